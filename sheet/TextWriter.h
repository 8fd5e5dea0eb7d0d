#pragma once
// The tab-separated text save of one worksheet.
//
// Layout of the file: UTF-8 without byte-order mark, one line per row from row 1 to the
// last row that holds a value, CRLF after every line (what spreadsheet applications write
// for a text save; the line reader accepts either break). A row without values is an
// empty line. Columns start at column A; cells are separated by a tab, and the empty
// cells at the end of a row are not written.
//
// Cell text: strings as they are, with tab, CR and LF replaced by a blank so that a row
// stays one line; numbers with up to 15 significant digits, no grouping and the locale's
// decimal separator; date cells in the locale's short date format, followed by a blank
// and the long time (rounded to the second) when the value has a time of day, or the
// time alone for a value below one day; booleans TRUE/FALSE; errors as the spreadsheet shows them.

#include <cstdint>
#include <string>

#include "sheet/Workbook.h"

namespace sheet {

// The text of one cell in the save, by the process-wide regional settings.
std::string CellText(const Cell& cell);

// Writes sheet `index` of `reader` to `path`. The file appears complete or not at all:
// the text goes to a temporary file in the same directory that is renamed over `path`
// at the end and removed on any failure. Memory stays bounded by one row as long as the
// reader delivers rows in order; a reader that goes back to an earlier row makes the
// writer read the sheet a second time and sort it in memory, within the limit of the
// whole text. Raises EFileError when the file cannot be written, WorkbookError for a
// cell beyond the largest sheet, LimitError for a cell's text longer than
// `limits.maxCellChars` characters or a text larger than `limits.maxTextBytes` (both
// checked before the line that would pass them is written), and passes the reader's
// errors on. While the temporary file exists it is registered for removal on SIGINT
// and SIGTERM.
void WriteSheetAsText(WorkbookReader& reader, std::size_t index, const std::string& path,
                      const ReaderLimits& limits = {});

}  // namespace sheet
