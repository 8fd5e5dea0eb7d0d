#pragma once
// The conversion library: variant conversions, SQL constants by database dialect,
// text, list and number helpers, paths and temporary files. Free functions; the only
// state is DefaultDataBaseTypeName.

#include <cstdint>
#include <string>

#include "platform/StringList.h"
#include "platform/Ui.h"
#include "platform/Variant.h"

// ---- Variant text and number conversion ------------------------------------------

// The one-byte types (codes 16, 17) hold a Windows-1251 byte: shown as its character in
// UTF-8, read from a text as the 1251 code of its first character. A negative short
// integer counts as its low byte (0 to 255).
std::string VarTypeAsString(Variant value);
std::string VarToString(Variant value, const std::string& format);
// Raises EConvertError("'<text>' is not a valid floating point value") for a string
// that is no number.
double VarToDouble(Variant value);
Variant VarValFromString(const std::string& text, int type);
// A boolean counts as empty when it is false.
bool VarIsEmpty(Variant value, double emptyNumber);
double AnsisToDoubleDef(const std::string& text, double def);
TDateTime AnsisToDateTimeDef(const std::string& text, TDateTime def);

// ---- SQL constants by database dialect -------------------------------------------

// "ACCESS", "ASA" or "ORA"; empty at start, set by the main window.
extern std::string DefaultDataBaseTypeName;

// Doubles are written with exactly seven decimals and a point (an exact half at the
// seventh decimal rounds away from zero; no minus sign on a value that rounds to zero);
// a NaN or infinity has no SQL number literal and gives NULL.
std::string VarToSQLConstant(Variant value, Variant nullMarker, const std::string& format,
                             const std::string& dataBaseTypeName);
std::string DateTimeToSQLConstant(TDateTime value, const std::string& dataBaseTypeName);
std::string VarToASAConstant(Variant value, Variant nullMarker, const std::string& format);
std::string VarToORAConstant(Variant value, Variant nullMarker, const std::string& format);

namespace convert {

// VarToSQLConstant appending to `out` instead of returning a new string, and taking the
// values by reference: the form for writing many literals into one statement.
void AppendSQLConstant(std::string& out, const Variant& value, const Variant& nullMarker,
                       const std::string& dataBaseTypeName);

}  // namespace convert

// ---- Text, list and number helpers -----------------------------------------------

std::string FldList_Prepare(const std::string& fieldList);
std::string CharReplace(const std::string& text, char find, char replacement);
std::string CharReplace(const std::string& text, char find, const std::string& replacement);
std::string ListToStrWithSep(const TStrings* list, const std::string& separator, bool trimItems);
std::string ListToStrWithSep(const std::string& text, const std::string& separator, bool trimItems);
// Positions count characters (code points) from 1.
int FindTextA(const std::string& text, const std::string& find, int start, bool ignoreCase);
// Linux gives a library no keyboard state: keys are translated by the US layout with no
// modifier held and Num Lock on (letters in lower case, digits, signs of the main and
// numeric keyboard, Tab, Enter, Backspace, Escape, Space); 0 for every other key.
char VKey_ToChar(std::uint16_t virtualKey);
int MinI(int a, int b);
int MaxI(int a, int b);
int LimitI(int a, int b, int c);
double ZnRound(double value, double step);
// Adds the local zone's standard bias (no summer time).
TDateTime ZnLocalDateTimeToGMT(TDateTime local);

// Shows the hourglass for the lifetime of the object and then restores the cursor that
// was current when it was made.
class TWaitCursor {
 public:
  TWaitCursor();
  virtual ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;

 private:
  TCursor savedCursor_;
};

// ---- Paths and temporary files ---------------------------------------------------

extern const std::string TempFilePrefix;     // "ZNT"
extern const std::string TempFileExtension;  // "TMP"

// Joins with "/" and ends with "/"; a drive letter before a colon in `sub` is dropped.
std::string DirAdds(const std::string& base, const std::string& sub);
// 3: $TMPDIR (or "/tmp/") with a final "/"; 4: the current directory; 1 and 2 (the
// Windows and system directories) and every other code: "".
std::string ZnGetPath(int code);
// A new empty file (mode 0600) in the temporary directory named by the first three
// characters of `prefix`, four hexadecimal digits and ".TMP"; "" when none can be made.
std::string GenerateTempFileName(const std::string& prefix);
// Each candidate is created only if no file of that name exists (O_CREAT | O_EXCL), so an
// existing file is never truncated and no other process can take the name in between.
// Raises Exception("Не могу создать временный файл") when no candidate can be created.
std::string ZnGenerateTempFileName(const std::string& prefix, const std::string& extension);
