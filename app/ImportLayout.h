#pragma once
// The layout of the import record: which cell of a tab-separated summary line feeds
// which field, which fields are written to "FromExcel", their types and formats, and the
// values every row of a run carries (LPP, project name, import day).

#include <string>
#include <string_view>

#include "platform/Variant.h"

class TZnFFSRecord;

namespace app {

struct LayoutField {
  std::string_view name;
  std::string_view type;    // "str", "flt" or "int", as handed to TZnFFSRecord::Add
  int cell;                 // 1-based position in the line; 0 = not read from the line
  bool written;             // part of the INSERT text and of the table insertion
  std::string_view format;  // empty = none
};

// The 25 fields, in record order.
extern const LayoutField kImportLayout[25];

inline constexpr int kImportLpp = 142;
inline constexpr std::string_view kImportProject = "TOrva_1";

// The values every row of a run carries besides the import day: the project whose rows
// the SQL run replaces, and the ship's length between perpendiculars. The layout's
// constants unless the command line or the window's settings name others.
struct ProjectValues {
  std::string project{kImportProject};
  int lpp = kImportLpp;
};

// A project name as given (blanks around dropped); false for a blank name or one with a
// control character (a tab or line break would break the tab-separated table output).
bool ReadProjectName(std::string_view text, std::string& project);
// A positive decimal integer of 32 bits, blanks around allowed; false for anything else
// (zero, a sign, a fraction, hexadecimal, too large).
bool ReadLpp(std::string_view text, int& lpp);

// Clears `record` and fills it with the import layout; `Variant` gets the whole day
// number of `now` (truncated toward zero), `Project` and `LPP` the values given. A null
// record is left alone.
void PrepareImportRecord(TZnFFSRecord* record, TDateTime now, const ProjectValues& values = {});

}  // namespace app
