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

std::string VarTypeAsString(Variant value);
std::string VarToString(Variant value, const std::string& format);
// Raises EConvertError("'<text>' is not a valid floating point value") for a string
// that is no number.
double VarToDouble(Variant value);
Variant VarValFromString(const std::string& text, int type);
bool VarIsEmpty(Variant value, double emptyNumber);
double AnsisToDoubleDef(const std::string& text, double def);
TDateTime AnsisToDateTimeDef(const std::string& text, TDateTime def);

// ---- SQL constants by database dialect -------------------------------------------

// "ACCESS", "ASA" or "ORA"; empty at start, set by the main window.
extern std::string DefaultDataBaseTypeName;

std::string VarToSQLConstant(Variant value, Variant nullMarker, const std::string& format,
                             const std::string& dataBaseTypeName);
std::string DateTimeToSQLConstant(TDateTime value, const std::string& dataBaseTypeName);
std::string VarToASAConstant(Variant value, Variant nullMarker, const std::string& format);
std::string VarToORAConstant(Variant value, Variant nullMarker, const std::string& format);

// ---- Text, list and number helpers -----------------------------------------------

std::string FldList_Prepare(const std::string& fieldList);
std::string CharReplace(const std::string& text, char find, char replacement);
std::string CharReplace(const std::string& text, char find, const std::string& replacement);
std::string ListToStrWithSep(const TStrings* list, const std::string& separator, bool trimItems);
std::string ListToStrWithSep(const std::string& text, const std::string& separator,
                             bool trimItems);
int FindTextA(const std::string& text, const std::string& find, int start, bool ignoreCase);
char VKey_ToChar(std::uint16_t virtualKey);
int MinI(int a, int b);
int MaxI(int a, int b);
int LimitI(int a, int b, int c);
double ZnRound(double value, double step);
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
  TCursor FOldCursor;
};

// ---- Paths and temporary files ---------------------------------------------------

extern const std::string TempFilePrefix;     // "ZNT"
extern const std::string TempFileExtension;  // "TMP"

std::string DirAdds(const std::string& base, const std::string& sub);
std::string ZnGetPath(int code);
std::string GenerateTempFileName(const std::string& prefix);
// Raises Exception("Не могу создать временный файл") when no candidate can be created.
std::string ZnGenerateTempFileName(const std::string& prefix, const std::string& extension);
