// Fuzzing entry for the .xlsx reader: any bytes must open and read into a WorkbookError
// or into cells, never into a crash, a hang or unbounded memory.

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = fuzzing::WriteInput("xlsx-fuzz", data, size);
  fuzzing::ReadEverySheet(
      [](const std::string& p, const sheet::ReaderLimits& l) { return sheet::OpenXlsx(p, l); },
      path);
  return 0;
}
