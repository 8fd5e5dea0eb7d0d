#pragma once
// Reader of Excel 97-2003 workbooks (BIFF8 records in the "Workbook" stream of a compound
// file). sheet::OpenXls (Workbook.h) opens a file; the functions here serve the fuzz
// harness and the tests.

#include "sheet/Workbook.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace sheet::xls {

// Opens a workbook held in memory.
std::unique_ptr<WorkbookReader> OpenXlsBytes(std::vector<std::uint8_t> bytes,
                                             const ReaderLimits& limits = {});

}  // namespace sheet::xls
