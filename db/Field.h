#pragma once
// A column of the table dataset and the conversion of the values set on it to what the
// column is written as.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DataSet.h"
#include "platform/Variant.h"

namespace db::detail {

// What a column holds, as far as the conversion of values is concerned.
enum class ColumnKind { Text, Integer, Double, Boolean, Other };

// What a column's value is written as.
enum class BoundType : unsigned char { Null, Text, Integer, Double, Boolean };

// A value as the back ends bind it to a parameter: a null (of the column's kind), a
// text, a 64-bit integer, a double or a boolean (0 or 1 in `integer`).
struct BoundValue {
  BoundType type = BoundType::Null;
  ColumnKind kind = ColumnKind::Other;
  std::int64_t integer = 0;
  double real = 0;
  const std::string* text = nullptr;  // Text: the field's own text
};

// A column name with letter case removed: ASCII names byte by byte (the common case,
// looked up for every column of every row), others through Unicode case folding.
std::string FoldName(std::string_view name);

// One column of the open table and its value in the row being inserted.
class Field final : public TField {
 public:
  Field(const TDataSetState& state, std::string tableName, std::string name, ColumnKind kind,
        int intBits, bool readOnly, bool fixedReadOnly);

  std::string FieldName() const override { return name_; }
  bool ReadOnly() const override { return readOnly_; }
  void SetReadOnly(bool readOnly) override;
  Variant Value() const override { return assigned_ ? value_ : Variant::Null(); }
  void SetValue(const Variant& value) override;

  // The name as FindField compares it.
  const std::string& FoldedName() const { return folded_; }
  bool Assigned() const { return assigned_; }
  const std::string& Name() const { return name_; }
  // The old value stays behind unread (Value answers Null) until the column is set
  // again, which saves releasing it for every row.
  void Clear() { assigned_ = false; }
  // The value to write. A text refers to the field's own: it must stay unchanged until
  // the statement has run.
  const BoundValue& Bound() const { return bound_; }

 private:
  [[noreturn]] void Invalid() const;
  void SetNull();
  void SetText(std::string text);
  void SetInteger(std::int64_t v);
  void SetDouble(double v);
  void SetBoolean(bool v);
  void Convert(const Variant& value);
  std::int64_t ToInteger(const Variant& value) const;
  double ToDouble(const Variant& value) const;

  const TDataSetState& state_;
  std::string tableName_;
  std::string name_;
  std::string folded_;
  ColumnKind kind_;
  int intBits_;
  bool readOnly_;
  bool fixedReadOnly_;
  bool assigned_ = false;
  Variant value_;
  BoundValue bound_;
};

}  // namespace db::detail
