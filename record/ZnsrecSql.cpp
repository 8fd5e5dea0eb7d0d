// A record's SQL text (INSERT and UPDATE statements) and its storing into a dataset row.

#include <string>

#include "convert/Smallfun.h"
#include "platform/Text.h"
#include "record/Znsrec.h"

namespace {

// The record writes no null marker: the literal NULL comes from Null values only.
const Variant& NullMarker() {
  static const Variant null = Variant::Null();
  return null;
}

}  // namespace

// ---- SQL text ----------------------------------------------------------------------

std::string TZnFFSRecord::InsertSQL(const std::string& table) const {
  std::size_t estimate = table.size() + 32;
  bool any = false;
  for (const auto& field : Fields) {
    if (field->NoStore) continue;
    any = true;
    // A number takes about 20 characters; a text its own length and its quotes.
    estimate += field->Name.size() + field->Value.Text().size() + 24;
  }
  if (!any) return std::string();

  std::string sql;
  sql.reserve(estimate);
  sql += "Insert Into ";
  sql += table;
  sql += " \r\n(";
  bool first = true;
  for (const auto& field : Fields) {
    if (field->NoStore) continue;
    if (!first) sql += " ,";
    first = false;
    sql += field->Name;
  }
  sql += ") \nValues \r\n(";
  const Variant& nullMarker = NullMarker();
  first = true;
  for (const auto& field : Fields) {
    if (field->NoStore) continue;
    if (!first) sql += " ,";
    first = false;
    convert::AppendSQLConstant(sql, field->Value, nullMarker, DefaultDataBaseTypeName);
  }
  sql += ')';
  return sql;
}

std::string TZnFFSRecord::UpdateSQL(const std::string& table, const std::string& where) const {
  std::string assignments;
  bool first = true;
  for (const auto& field : Fields) {
    if (field->NoStore) continue;
    if (!first) assignments += " ,";
    first = false;
    assignments += field->Name;
    assignments += " = ";
    convert::AppendSQLConstant(assignments, field->Value, NullMarker(), DefaultDataBaseTypeName);
    assignments += " \r\n";
  }
  if (assignments.empty()) return std::string();

  std::string sql = "Update " + table + " Set \r\n  " + assignments;
  if (!platform::IsBlank(where)) {
    sql += "Where ";
    sql += where;
  }
  return sql;
}

// ---- Dataset insertion -------------------------------------------------------------

namespace {

// Tries to set or clear a column's read-only flag; the column decides whether it can.
void TrySetReadOnly(TField& column, bool readOnly) noexcept {
  try {
    column.SetReadOnly(readOnly);
  } catch (...) {
    // A column that refuses the change simply keeps its flag.
  }
}

// Makes a column read-only again when the value has been stored or storing it failed,
// so that an error never leaves a protected column writable.
class ReadOnlyRestorer {
 public:
  explicit ReadOnlyRestorer(TField& column) : column_(column) {}
  ~ReadOnlyRestorer() { TrySetReadOnly(column_, true); }
  ReadOnlyRestorer(const ReadOnlyRestorer&) = delete;
  ReadOnlyRestorer& operator=(const ReadOnlyRestorer&) = delete;

 private:
  TField& column_;
};

}  // namespace

bool TZnFFSRecord::Insert(TDataSet* dataSet, bool post) {
  if (dataSet == nullptr || !dataSet->Active()) return false;
  const TDataSetState state = dataSet->State();
  const bool began = state != dsEdit && state != dsInsert;
  if (began) dataSet->Insert();

  bool stored = false;
  for (const auto& field : Fields) {
    if (field->NoStore) continue;
    TField* column = dataSet->FindField(field->Name);
    if (column == nullptr) continue;
    if (!column->ReadOnly()) {
      stored = true;
      column->SetValue(field->Value);
      continue;
    }
    TrySetReadOnly(*column, false);
    if (column->ReadOnly()) continue;
    ReadOnlyRestorer restore(*column);
    stored = true;
    column->SetValue(field->Value);
  }

  if (!stored) {
    if (began) dataSet->Cancel();
    return false;
  }
  if (post) dataSet->Post();
  return true;
}
