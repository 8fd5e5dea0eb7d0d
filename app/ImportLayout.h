#pragma once
// The layout of the import record: which cell of a tab-separated summary line feeds
// which field, which fields are written to "FromExcel", their types and formats, and the
// values every row of a run carries (LPP, project name, import day).

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

// Clears `record` and fills it with the import layout; `Variant` gets the whole day
// number of `now` (truncated toward zero). A null record is left alone.
void PrepareImportRecord(TZnFFSRecord* record, TDateTime now);

}  // namespace app
