// Fuzzing entry for the Excel 97-2003 reader: any bytes must open and read into a
// WorkbookError or into cells, never into a crash, a hang or unbounded memory. The bytes
// are read from memory; the file source differs only in where the bytes come from.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sheet/Workbook.h"
#include "sheet/XlsReader.h"

namespace {

class TouchingSink : public sheet::CellSink {
 public:
  void OnCell(std::uint32_t row, std::uint32_t column, const sheet::Cell& cell) override {
    sum_ += row + column + cell.text.size();
  }

 private:
  std::uint64_t sum_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Smaller limits than in use keep each run short; the checks are the same.
  sheet::ReaderLimits limits;
  limits.maxSharedStrings = 1u << 16;
  limits.maxStringBytes = 4u << 20;
  try {
    auto reader = sheet::xls::OpenXlsBytes(std::vector<std::uint8_t>(data, data + size), limits);
    // The engine reads one sheet per conversion; a few are enough to reach every path, and
    // a file that lists thousands of sheets over one long substream would only slow the run.
    const std::size_t sheets = std::min<std::size_t>(reader->SheetNames().size(), 4);
    for (std::size_t i = 0; i < sheets; ++i) {
      TouchingSink sink;
      try {
        reader->ReadSheet(i, sink);
      } catch (const sheet::WorkbookError&) {
      }
    }
  } catch (const sheet::WorkbookError&) {
  }
  return 0;
}
