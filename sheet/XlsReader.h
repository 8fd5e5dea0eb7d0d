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

// True when a number format shows a date or a time: it has a day, month, year, hour or
// second token outside quoted text, escapes and bracketed sections (colours, locales), or
// an elapsed-time section such as [h].
bool IsDateFormatCode(std::string_view code);

// True when a number format has an elapsed-time section such as [h] or [mm]: its values
// are durations, not points in time.
bool IsElapsedTimeFormatCode(std::string_view code);

// True for the built-in number format ids that are dates or times.
bool IsBuiltinDateFormat(std::uint16_t id);

}  // namespace sheet::xls
