#include "app/ImportLayout.h"

#include <cstdint>
#include <string>

#include "platform/Ascii.h"
#include "platform/NumberFormat.h"
#include "record/Znsrec.h"

namespace app {

const LayoutField kImportLayout[25] = {
    {"Tank", "str", 0, true, ""},
    {"Designation", "str", 1, true, ""},
    {"ColumnB", "str", 2, false, ""},
    {"Frame", "str", 3, true, ""},
    {"Board", "str", 4, true, ""},
    {"Deck", "str", 5, true, ""},
    {"Volume", "flt", 6, true, "0.00"},
    {"Fperm", "flt", 7, true, "0.00"},
    {"Volume_Netto", "flt", 8, true, "0.00"},
    {"SpecificWeight", "flt", 9, true, "0.00"},
    {"FactorExpansion", "flt", 10, true, "0.00"},
    {"AccountDeadStock", "flt", 11, true, "0.00"},
    {"DeadSstock", "flt", 12, true, "0.00"},
    {"AccountSstock", "flt", 13, true, "0.00"},
    {"Xpvm", "flt", 14, true, "0.00"},
    {"Ypvm", "flt", 15, true, "0.00"},
    {"Zpvm", "flt", 16, true, "0.00"},
    {"Mx", "flt", 17, true, "0.00"},
    {"Mz", "flt", 18, true, "0.00"},
    {"ColumnS", "str", 19, false, ""},
    {"dmh", "flt", 20, true, "0"},
    {"dM", "flt", 21, true, "0"},
    {"LPP", "int", 0, true, ""},
    {"Project", "str", 0, true, ""},
    {"Variant", "int", 0, true, ""},
};

bool ReadProjectName(std::string_view text, std::string& project) {
  const std::string_view name = platform::TrimView(text);
  if (name.empty()) return false;
  for (const char c : name) {
    if (platform::IsBlankByte(c) && c != ' ') return false;
  }
  project.assign(name);
  return true;
}

bool ReadLpp(std::string_view text, int& lpp) {
  const std::string_view digits = platform::TrimView(text);
  if (digits.empty()) return false;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  std::int32_t value = 0;
  if (!platform::TryStrToInt(digits, value) || value <= 0) return false;
  lpp = value;
  return true;
}

void PrepareImportRecord(TZnFFSRecord* record, TDateTime now, const ProjectValues& values) {
  if (record == nullptr) return;
  record->Clear();
  // The import day: whole days since 1899-12-30, the time of day dropped.
  const int day = static_cast<int>(now);
  for (const LayoutField& f : kImportLayout) {
    TZnFFSField* field = record->Add(std::string(f.name), std::string(f.type), f.cell != 0,
                                     Variant::Null(), Variant::Null(), f.written);
    if (field == nullptr) continue;
    if (!f.format.empty()) field->Format = std::string(f.format);
    if (f.name == "LPP") {
      field->SetAsInteger(values.lpp);
    } else if (f.name == "Project") {
      field->SetAsString(values.project);
    } else if (f.name == "Variant") {
      field->SetAsInteger(day);
    }
  }
}

}  // namespace app
