// Fields and the field list of a record: construction, copying, lookup by name, adding,
// updating and removing fields.

#include "record/Znsrec.h"

#include <array>
#include <climits>
#include <cmath>
#include <utility>

#include "convert/Smallfun.h"
#include "platform/Ascii.h"
#include "platform/DateTime.h"
#include "platform/Text.h"

namespace znsrec {
namespace {

// ";NAME;" as a prepared field list holds it.
std::string ListKey(const std::string& name) {
  std::string key = platform::UpperCase(platform::Trim(name));
  key.insert(key.begin(), ';');
  key.push_back(';');
  return key;
}

bool ListNames(const std::string& prepared, const TZnFFSField& field) {
  return prepared.find(ListKey(field.Name)) != std::string::npos;
}

}  // namespace

bool NamesMatch(std::string_view a, std::string_view b) {
  a = platform::TrimView(a);
  b = platform::TrimView(b);
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (platform::AsciiUpper(a[i]) != platform::AsciiUpper(b[j])) return false;
      ++i;
      ++j;
      continue;
    }
    const std::size_t startA = i;
    const std::size_t startB = j;
    const char32_t da = platform::DecodeUtf8(a, i);
    const char32_t db = platform::DecodeUtf8(b, j);
    if (platform::UpperChar(da) != platform::UpperChar(db)) return false;
    // Malformed bytes all decode to U+FFFD; they match only themselves.
    if (da == U'\uFFFD' && a.substr(startA, i - startA) != b.substr(startB, j - startB)) {
      return false;
    }
  }
  return i == a.size() && j == b.size();
}

}  // namespace znsrec

// ---- TZnFFSField ------------------------------------------------------------------

TZnFFSField::TZnFFSField() { SetDF(); }

TZnFFSField::TZnFFSField(const TZnFFSField* source) {
  SetDF();
  Assign(source);
}

void TZnFFSField::SetDF() {
  SetType("char");
  Name.clear();
  Value = Variant::Null();
  Format.clear();
  Tag1 = 0;
  Tag2 = 0;
  DefValue = Variant::Null();
  NoScan = false;
  NoStore = false;
}

void TZnFFSField::Assign(const TZnFFSField* source) {
  if (source == this) return;
  if (source == nullptr) {
    SetDF();
    return;
  }
  Name = source->Name;
  SetType(source->Type);
  Value = source->Value;
  Format = source->Format;
  Tag1 = source->Tag1;
  Tag2 = source->Tag2;
  DefValue = source->DefValue;
  NoScan = source->NoScan;
  NoStore = source->NoStore;
}

void TZnFFSField::SetType(const std::string& text) {
  // The first prefix that the trimmed, lower-cased text begins with decides.
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kPrefixes{{
      {"char", "char"},
      {"varc", "varchar"},
      {"str", "varchar"},
      {"int", "integer"},
      {"float", "float"},
      {"flt", "float"},
      {"double", "float"},
      {"dbl", "float"},
      {"real", "float"},
      {"date", "datetime"},
      {"time", "datetime"},
  }};
  const std::string lowered = platform::LowerCase(platform::Trim(text));
  for (const auto& [prefix, canonical] : kPrefixes) {
    if (std::string_view(lowered).starts_with(prefix)) {
      Type.assign(canonical);
      return;
    }
  }
  Type.assign("char");
}

void TZnFFSField::SetAsString(std::string s) { Value = Variant::String(std::move(s)); }
void TZnFFSField::SetAsInteger(int i) { Value = Variant::Integer(i); }
void TZnFFSField::SetAsFloat(double x) { Value = Variant::Double(x); }
void TZnFFSField::SetAsDateTime(TDateTime t) { Value = Variant::Date(t); }

std::string TZnFFSField::GetAsString() const { return VarToString(Value, Format); }

double TZnFFSField::GetAsFloat() const { return VarToDouble(Value); }

int TZnFFSField::GetAsInteger() const {
  const double x = std::trunc(VarToDouble(Value));
  if (std::isnan(x)) return 0;
  if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(x);
}

TDateTime TZnFFSField::GetAsDateTime() const {
  const std::string text = platform::Trim(GetAsString());
  if (text.empty()) return 0.0;
  TDateTime result = 0.0;
  if (platform::TryStrToDateTime(text, result)) return result;
  return VarToDouble(Value);
}

std::string TZnFFSField::GetAsSQLConstant() const {
  std::string out;
  convert::AppendSQLConstant(out, Value, Variant::Null(), DefaultDataBaseTypeName);
  return out;
}

bool TZnFFSField::GetIsNull() const {
  return Value.VType() == varEmpty || Value.VType() == varNull;
}

bool TZnFFSField::GetIsEmpty() const { return VarIsEmpty(Value, 0.0); }

// ---- TZnFFSRecord: construction and the field list -----------------------------------

TZnFFSRecord::TZnFFSRecord(const TZnFFSRecord* source) { Assign(source); }

TZnFFSRecord::~TZnFFSRecord() { Clear(); }

void TZnFFSRecord::Assign(const TZnFFSRecord* source) {
  if (source == this) return;
  Clear();
  if (source == nullptr) return;
  Fields.reserve(source->Fields.size());
  for (const auto& field : source->Fields) Append(std::make_unique<TZnFFSField>(field.get()));
  CellPos = source->CellPos;
  ScanCount = source->ScanCount;
}

void TZnFFSRecord::Clear() {
  while (!Fields.empty()) Fields.pop_back();
  CellPos = 0;
  ScanCount = 0;
}

int TZnFFSRecord::GetCount() const { return static_cast<int>(Fields.size()); }

TZnFFSField* TZnFFSRecord::GetItem(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return Fields[static_cast<std::size_t>(index)].get();
}

TZnFFSField* TZnFFSRecord::Find(std::string_view name, bool fromBack) const {
  if (platform::TrimView(name).empty()) return nullptr;
  if (fromBack) {
    for (auto it = Fields.rbegin(); it != Fields.rend(); ++it) {
      if (znsrec::NamesMatch((*it)->Name, name)) return it->get();
    }
  } else {
    for (const auto& field : Fields) {
      if (znsrec::NamesMatch(field->Name, name)) return field.get();
    }
  }
  return nullptr;
}

TZnFFSField* TZnFFSRecord::FieldByName(const std::string& name) const { return Find(name, false); }
TZnFFSField* TZnFFSRecord::ByName(const std::string& name) const { return Find(name, false); }
TZnFFSField* TZnFFSRecord::ByNameTail(const std::string& name) const { return Find(name, true); }

TZnFFSField* TZnFFSRecord::Append(std::unique_ptr<TZnFFSField> field) {
  Fields.push_back(std::move(field));
  return Fields.back().get();
}

namespace {

void SetAsAdded(TZnFFSField& field, std::string trimmedName, const std::string& type, bool scan,
                Variant value, Variant defValue, bool store) {
  field.Name = std::move(trimmedName);
  field.SetType(type);
  field.Value = std::move(value);
  field.DefValue = std::move(defValue);
  field.NoScan = !scan;
  field.NoStore = !store;
}

}  // namespace

TZnFFSField* TZnFFSRecord::Add(const std::string& name, const std::string& type, bool scan,
                               Variant value, Variant defValue, bool store) {
  std::string trimmed = platform::Trim(name);
  if (trimmed.empty()) return nullptr;
  TZnFFSField* field = Append(std::make_unique<TZnFFSField>());
  SetAsAdded(*field, std::move(trimmed), type, scan, std::move(value), std::move(defValue), store);
  return field;
}

TZnFFSField* TZnFFSRecord::Add(const std::string& name, const std::string& type) {
  return Add(name, type, true, Variant::Null(), Variant::Null(), true);
}

TZnFFSField* TZnFFSRecord::Add(const TZnFFSField* field, const std::string& name) {
  if (field == nullptr) return nullptr;
  auto copy = std::make_unique<TZnFFSField>(field);
  std::string trimmed = platform::Trim(name);
  if (!trimmed.empty()) copy->Name = std::move(trimmed);
  return Append(std::move(copy));
}

TZnFFSField* TZnFFSRecord::Add(const TZnFFSRecord* source, const std::string& fieldList) {
  if (source == nullptr || source == this) return nullptr;
  const std::string prepared = FldList_Prepare(fieldList);
  TZnFFSField* last = nullptr;
  for (const auto& field : source->Fields) {
    if (prepared.empty() || znsrec::ListNames(prepared, *field)) {
      last = Append(std::make_unique<TZnFFSField>(field.get()));
    }
  }
  return last;
}

TZnFFSField* TZnFFSRecord::UpdAdd(const std::string& name, const std::string& type, bool scan,
                                  Variant value, Variant defValue, bool store) {
  std::string trimmed = platform::Trim(name);
  if (trimmed.empty()) return nullptr;
  TZnFFSField* field = ByNameTail(trimmed);
  if (field == nullptr) field = Append(std::make_unique<TZnFFSField>());
  SetAsAdded(*field, std::move(trimmed), type, scan, std::move(value), std::move(defValue), store);
  return field;
}

TZnFFSField* TZnFFSRecord::UpdAdd(const TZnFFSRecord* source, const std::string& fieldList) {
  if (source == nullptr || source == this) return nullptr;
  const std::string prepared = FldList_Prepare(fieldList);
  TZnFFSField* last = nullptr;
  for (const auto& field : source->Fields) {
    if (!prepared.empty() && !znsrec::ListNames(prepared, *field)) continue;
    TZnFFSField* target = ByNameTail(field->Name);
    if (target != nullptr) {
      target->Assign(field.get());
      last = target;
    } else {
      last = Append(std::make_unique<TZnFFSField>(field.get()));
    }
  }
  return last;
}

void TZnFFSRecord::Delete(const std::string& fieldList) {
  const std::string prepared = FldList_Prepare(fieldList);
  if (prepared.empty()) return;
  std::erase_if(Fields, [&](const std::unique_ptr<TZnFFSField>& field) {
    return znsrec::ListNames(prepared, *field);
  });
}

// ---- Null-safe forms --------------------------------------------------------------

namespace znsrec {

void SetDF(TZnFFSField* field) {
  if (field) field->SetDF();
}
void Assign(TZnFFSField* field, const TZnFFSField* source) {
  if (field) field->Assign(source);
}
void SetType(TZnFFSField* field, const std::string& text) {
  if (field) field->SetType(text);
}
void SetAsString(TZnFFSField* field, std::string s) {
  if (field) field->SetAsString(std::move(s));
}
void SetAsInteger(TZnFFSField* field, int i) {
  if (field) field->SetAsInteger(i);
}
void SetAsFloat(TZnFFSField* field, double x) {
  if (field) field->SetAsFloat(x);
}
void SetAsDateTime(TZnFFSField* field, TDateTime t) {
  if (field) field->SetAsDateTime(t);
}
std::string GetAsString(const TZnFFSField* field) {
  return field ? field->GetAsString() : std::string();
}
double GetAsFloat(const TZnFFSField* field) { return field ? field->GetAsFloat() : 0.0; }
int GetAsInteger(const TZnFFSField* field) { return field ? field->GetAsInteger() : 0; }
TDateTime GetAsDateTime(const TZnFFSField* field) { return field ? field->GetAsDateTime() : 0.0; }
std::string GetAsSQLConstant(const TZnFFSField* field) {
  return field ? field->GetAsSQLConstant() : std::string("NULL");
}
bool GetIsNull(const TZnFFSField* field) { return field ? field->GetIsNull() : true; }
bool GetIsEmpty(const TZnFFSField* field) { return field ? field->GetIsEmpty() : true; }

void Assign(TZnFFSRecord* record, const TZnFFSRecord* source) {
  if (record) record->Assign(source);
}
void Clear(TZnFFSRecord* record) {
  if (record) record->Clear();
}
int GetCount(const TZnFFSRecord* record) { return record ? record->GetCount() : 0; }
TZnFFSField* GetItem(const TZnFFSRecord* record, int index) {
  return record ? record->GetItem(index) : nullptr;
}
TZnFFSField* FieldByName(const TZnFFSRecord* record, const std::string& name) {
  return record ? record->FieldByName(name) : nullptr;
}
TZnFFSField* ByName(const TZnFFSRecord* record, const std::string& name) {
  return record ? record->ByName(name) : nullptr;
}
TZnFFSField* ByNameTail(const TZnFFSRecord* record, const std::string& name) {
  return record ? record->ByNameTail(name) : nullptr;
}
TZnFFSField* Add(TZnFFSRecord* record, const std::string& name, const std::string& type, bool scan,
                 Variant value, Variant defValue, bool store) {
  return record ? record->Add(name, type, scan, std::move(value), std::move(defValue), store)
                : nullptr;
}
TZnFFSField* Add(TZnFFSRecord* record, const std::string& name, const std::string& type) {
  return record ? record->Add(name, type) : nullptr;
}
TZnFFSField* Add(TZnFFSRecord* record, const TZnFFSField* field, const std::string& name) {
  return record ? record->Add(field, name) : nullptr;
}
TZnFFSField* Add(TZnFFSRecord* record, const TZnFFSRecord* source, const std::string& fieldList) {
  return record ? record->Add(source, fieldList) : nullptr;
}
TZnFFSField* UpdAdd(TZnFFSRecord* record, const std::string& name, const std::string& type,
                    bool scan, Variant value, Variant defValue, bool store) {
  return record ? record->UpdAdd(name, type, scan, std::move(value), std::move(defValue), store)
                : nullptr;
}
TZnFFSField* UpdAdd(TZnFFSRecord* record, const TZnFFSRecord* source,
                    const std::string& fieldList) {
  return record ? record->UpdAdd(source, fieldList) : nullptr;
}
void Delete(TZnFFSRecord* record, const std::string& fieldList) {
  if (record) record->Delete(fieldList);
}
bool ScanString(TZnFFSRecord* record, const std::string& line, char separator) {
  return record ? record->ScanString(line, separator) : false;
}
std::string InsertSQL(const TZnFFSRecord* record, const std::string& table) {
  return record ? record->InsertSQL(table) : std::string();
}
std::string UpdateSQL(const TZnFFSRecord* record, const std::string& table,
                      const std::string& where) {
  return record ? record->UpdateSQL(table, where) : std::string();
}
bool Insert(TZnFFSRecord* record, TDataSet* dataSet, bool post) {
  return record ? record->Insert(dataSet, post) : false;
}

}  // namespace znsrec
