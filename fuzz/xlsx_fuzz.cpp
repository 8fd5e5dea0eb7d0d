// Fuzzing entry for the .xlsx reader: any bytes must open and read into a WorkbookError
// or into cells, never into a crash, a hang or unbounded memory.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sheet/Workbook.h"

namespace {

class DiscardingSink : public sheet::CellSink {
 public:
  void OnCell(std::uint32_t, std::uint32_t, const sheet::Cell&) override {}
};

// The readers open files by path: every input goes through one temporary file.
const std::string& InputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/xlsx-fuzz-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    ::close(fd);
    return pattern;
  }();
  static const bool cleanup = [] {
    return std::atexit([] { ::unlink(InputPath().c_str()); }) == 0;
  }();
  (void)cleanup;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = InputPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  // Smaller limits than in use keep each run short; the checks are the same.
  sheet::ReaderLimits limits;
  limits.maxDecompressedPart = 4u << 20;
  limits.maxSharedStrings = 1u << 16;
  limits.maxStringBytes = 4u << 20;
  try {
    auto reader = sheet::OpenXlsx(path, limits);
    const auto names = reader->SheetNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
      DiscardingSink sink;
      try {
        reader->ReadSheet(i, sink);
      } catch (const sheet::WorkbookError&) {
      }
    }
  } catch (const sheet::WorkbookError&) {
  }
  return 0;
}
