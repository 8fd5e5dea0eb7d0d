#pragma once
// Shared pieces of the record model tests: a guard for the process-wide SQL dialect,
// regional settings with either decimal separator, and the 25-field import layout.

#include <optional>
#include <string>

#include "convert/Smallfun.h"
#include "platform/FormatSettings.h"
#include "record/Znsrec.h"

namespace recordtest {

// Sets DefaultDataBaseTypeName for the lifetime of the object.
class ScopedDialect {
 public:
  explicit ScopedDialect(std::string name) : saved_(DefaultDataBaseTypeName) {
    DefaultDataBaseTypeName = std::move(name);
  }
  ~ScopedDialect() { DefaultDataBaseTypeName = saved_; }
  ScopedDialect(const ScopedDialect&) = delete;
  ScopedDialect& operator=(const ScopedDialect&) = delete;

 private:
  std::string saved_;
};

inline TFormatSettings PointSettings() { return platform::UsFormatSettings(); }
inline TFormatSettings CommaSettings() { return platform::RussianFormatSettings(); }

// The text of a value when it is a string, std::nullopt when Null; anything else is
// rendered with a marker so that a wrong type shows in the failure message.
inline std::optional<std::string> TextOf(const Variant& v) {
  if (v.IsNull()) return std::nullopt;
  if (v.VType() == varString) return v.Text();
  return "<type " + std::to_string(v.VType()) + ">";
}

// The import record of the summary sheet: 25 fields, 21 read from the line, 23 written.
inline void AddImportLayout(TZnFFSRecord& rec) {
  struct Row {
    const char* name;
    const char* type;
    bool scan;
    bool store;
    const char* format;
  };
  static constexpr Row kRows[] = {
      {"Tank", "str", false, true, ""},
      {"Designation", "str", true, true, ""},
      {"ColumnB", "str", true, false, ""},
      {"Frame", "str", true, true, ""},
      {"Board", "str", true, true, ""},
      {"Deck", "str", true, true, ""},
      {"Volume", "flt", true, true, "0.00"},
      {"Fperm", "flt", true, true, "0.00"},
      {"Volume_Netto", "flt", true, true, "0.00"},
      {"SpecificWeight", "flt", true, true, "0.00"},
      {"FactorExpansion", "flt", true, true, "0.00"},
      {"AccountDeadStock", "flt", true, true, "0.00"},
      {"DeadSstock", "flt", true, true, "0.00"},
      {"AccountSstock", "flt", true, true, "0.00"},
      {"Xpvm", "flt", true, true, "0.00"},
      {"Ypvm", "flt", true, true, "0.00"},
      {"Zpvm", "flt", true, true, "0.00"},
      {"Mx", "flt", true, true, "0.00"},
      {"Mz", "flt", true, true, "0.00"},
      {"ColumnS", "str", true, false, ""},
      {"dmh", "flt", true, true, "0"},
      {"dM", "flt", true, true, "0"},
      {"LPP", "int", false, true, ""},
      {"Project", "str", false, true, ""},
      {"Variant", "int", false, true, ""},
  };
  rec.Clear();
  for (const Row& row : kRows) {
    TZnFFSField* field =
        rec.Add(row.name, row.type, row.scan, Variant::Null(), Variant::Null(), row.store);
    field->Format = row.format;
  }
  rec.ByName("LPP")->SetAsInteger(142);
  rec.ByName("Project")->SetAsString("TOrva_1");
  rec.ByName("Variant")->SetAsInteger(45444);
}

}  // namespace recordtest
