#pragma once
// Pieces the fuzzing entries share: the readers open files by path, so every input goes
// through one temporary file per process; smaller limits than in use keep each run short
// while the checks stay the same.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sheet/Workbook.h"

namespace fuzzing {

class DiscardingSink : public sheet::CellSink {
 public:
  void OnCell(std::uint32_t, std::uint32_t, const sheet::Cell&) override {}
};

// A temporary file named after `stem`, removed when the process ends. The name is never
// destroyed, so the clean-up at exit can still read it.
inline const std::string& TempPath(const char* stem) {
  static const std::string* const path = [stem] {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/" + stem + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    ::close(fd);
    return new std::string(pattern);
  }();
  static const bool cleanup = std::atexit([] {
                                ::unlink(path->c_str());
                                ::unlink((*path + ".txt").c_str());
                              }) == 0;
  (void)cleanup;
  return *path;
}

// Writes the input to the temporary file and returns its path.
inline const std::string& WriteInput(const char* stem, const std::uint8_t* data, std::size_t size) {
  const std::string& path = TempPath(stem);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return path;
}

inline sheet::ReaderLimits Limits() {
  sheet::ReaderLimits limits;
  limits.maxDecompressedPart = 4u << 20;
  limits.maxSharedStrings = 1u << 16;
  limits.maxStringBytes = 4u << 20;
  limits.maxTextBytes = 1u << 20;
  return limits;
}

// Opens the file with `open` and reads every sheet; a WorkbookError is a good ending.
template <typename Open>
void ReadEverySheet(Open open, const std::string& path) {
  try {
    auto reader = open(path, Limits());
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
}

}  // namespace fuzzing
