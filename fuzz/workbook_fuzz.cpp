// Fuzzing entry for recognising a workbook by content and saving its first sheet as
// text: any bytes end in a text file or in an error with a message, never in a crash, a
// hang or unbounded memory. The seeds of all three formats are used.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Exception.h"
#include "sheet/TextWriter.h"
#include "sheet/Workbook.h"

namespace {

struct Paths {
  std::string input;
  std::string output;
};

const Paths& TempPaths() {
  static const Paths paths = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string input = std::string(dir && *dir ? dir : "/tmp") + "/workbook-fuzz-XXXXXX";
    const int fd = ::mkstemp(input.data());
    if (fd < 0) std::abort();
    ::close(fd);
    Paths p{input, input + ".txt"};
    return p;
  }();
  static const bool cleanup = [] {
    return std::atexit([] {
             ::unlink(TempPaths().input.c_str());
             ::unlink(TempPaths().output.c_str());
           }) == 0;
  }();
  (void)cleanup;
  return paths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Paths& paths = TempPaths();
  std::FILE* file = std::fopen(paths.input.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  sheet::ReaderLimits limits;
  limits.maxDecompressedPart = 4u << 20;
  limits.maxSharedStrings = 1u << 16;
  limits.maxStringBytes = 4u << 20;
  try {
    auto reader = sheet::OpenWorkbook(paths.input, limits);
    if (!reader->SheetNames().empty()) sheet::WriteSheetAsText(*reader, 0, paths.output);
  } catch (const sheet::WorkbookError&) {
  } catch (const Exception&) {
  }
  return 0;
}
