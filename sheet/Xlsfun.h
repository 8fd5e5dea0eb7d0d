#pragma once
// Saving one worksheet of a workbook as a tab-separated text file through the
// spreadsheet application "Excel.Application" (see sheet/Automation.h).

#include <string>

// Saves the worksheet `sheetName` (the first worksheet when blank) of the workbook at
// `workbookPath` as tab-separated text at `textPath` (when blank: the workbook path with
// its extension replaced by ".txt") and returns the text path. Every failure is reported
// to the user in one message box and gives the empty string; a missing workbook gives
// the empty string without a message. Leading and trailing characters of code 32 and
// below are trimmed from both paths and from the test for a blank sheet name.
std::string SaveSheetAsText(const std::string& workbookPath, const std::string& sheetName,
                            const std::string& textPath);

namespace sheet {

// The text path of a workbook path: the part from the last '.' on becomes ".txt" when
// that point comes after the last '/' and ':'; otherwise ".txt" is appended.
std::string DerivedTextPath(const std::string& workbookPath);

}  // namespace sheet
