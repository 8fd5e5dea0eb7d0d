#pragma once
// A small in-memory table that behaves as a dataset of the platform does: closed or
// open, browse/insert/edit states, a row buffer that Post writes and Cancel discards,
// typed columns that convert what they are given or refuse it, read-only columns whose
// flag can or cannot be lifted, and required columns that Post checks.

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DataSet.h"
#include "platform/Exception.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"

namespace recordtest {

enum class ColumnKind { Text, Float, Integer };

struct ColumnSpec {
  std::string name;
  ColumnKind kind = ColumnKind::Text;
  bool readOnly = false;
  bool flagLocked = false;  // SetReadOnly raises: the flag cannot be changed
  bool required = false;    // Post refuses a row where the column is null
};

class MemoryDataSet;

class MemoryField : public TField {
 public:
  MemoryField(MemoryDataSet& owner, std::size_t index, ColumnSpec spec)
      : owner_(owner), index_(index), spec_(std::move(spec)) {}

  std::string FieldName() const override { return spec_.name; }
  bool ReadOnly() const override { return spec_.readOnly; }
  void SetReadOnly(bool readOnly) override {
    if (spec_.flagLocked) throw EDatabaseError("Cannot change the read-only flag of " + spec_.name);
    spec_.readOnly = readOnly;
  }
  Variant Value() const override;
  void SetValue(const Variant& value) override;

  const ColumnSpec& Spec() const { return spec_; }
  int valueWrites = 0;

 private:
  Variant Convert(const Variant& value) const;
  [[noreturn]] void Invalid() const {
    throw EDatabaseError("Invalid value for field '" + spec_.name + "'");
  }

  MemoryDataSet& owner_;
  std::size_t index_;
  ColumnSpec spec_;
};

class MemoryDataSet : public TDataSet {
 public:
  using Row = std::vector<Variant>;

  explicit MemoryDataSet(const std::vector<ColumnSpec>& columns) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      fields_.push_back(std::make_unique<MemoryField>(*this, i, columns[i]));
    }
  }
  MemoryDataSet(const MemoryDataSet&) = delete;  // the columns refer to their dataset
  MemoryDataSet& operator=(const MemoryDataSet&) = delete;

  bool Active() const override { return state_ != dsInactive; }
  void Open() override {
    if (state_ == dsInactive) state_ = dsBrowse;
  }
  void Close() override {
    state_ = dsInactive;
    buffer_.clear();
  }
  TDataSetState State() const override { return state_; }

  void Insert() override {
    CheckActive();
    ++insertCalls;
    if (state_ == dsInsert || state_ == dsEdit) Post();
    buffer_.assign(fields_.size(), Variant::Null());
    state_ = dsInsert;
  }
  // Puts the current row into edit mode (not part of the interface the record uses).
  void Edit() {
    CheckActive();
    if (rows.empty()) throw EDatabaseError("Cannot edit an empty dataset");
    buffer_ = rows[current];
    state_ = dsEdit;
  }
  TField* FindField(const std::string& name) override {
    for (const auto& field : fields_) {
      if (platform::UpperCase(field->FieldName()) == platform::UpperCase(name)) return field.get();
    }
    return nullptr;
  }
  MemoryField& Column(const std::string& name) {
    return *static_cast<MemoryField*>(FindField(name));
  }

  void Post() override {
    CheckEditing();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i]->Spec().required && buffer_[i].IsNull()) {
        throw EDatabaseError("Field '" + fields_[i]->FieldName() + "' must have a value");
      }
    }
    if (state_ == dsInsert) {
      rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(current), buffer_);
    } else {
      rows[current] = buffer_;
    }
    ++postCalls;
    state_ = dsBrowse;
    buffer_.clear();
  }
  void Cancel() override {
    ++cancelCalls;
    if (state_ == dsInsert || state_ == dsEdit) state_ = dsBrowse;
    buffer_.clear();
  }
  void DisableControls() override {}
  void EnableControls() override {}

  // The value of a column in the row being edited or inserted, else in the current row.
  Variant Current(std::size_t index) const {
    if (state_ == dsInsert || state_ == dsEdit) return buffer_[index];
    return rows.empty() ? Variant::Null() : rows[current][index];
  }
  void Store(std::size_t index, const Variant& value) {
    CheckEditing();
    buffer_[index] = value;
  }

  std::vector<Row> rows;
  std::size_t current = 0;
  int insertCalls = 0;
  int postCalls = 0;
  int cancelCalls = 0;

 private:
  void CheckActive() const {
    if (state_ == dsInactive)
      throw EDatabaseError("Cannot perform this operation on a closed dataset");
  }
  void CheckEditing() const {
    if (state_ != dsInsert && state_ != dsEdit)
      throw EDatabaseError("Dataset not in edit or insert mode");
  }

  TDataSetState state_ = dsInactive;
  Row buffer_;
  std::vector<std::unique_ptr<MemoryField>> fields_;
};

inline Variant MemoryField::Value() const { return owner_.Current(index_); }

inline void MemoryField::SetValue(const Variant& value) {
  if (spec_.readOnly) throw EDatabaseError("Field '" + spec_.name + "' cannot be modified");
  ++valueWrites;
  owner_.Store(index_, value.IsNull() ? Variant::Null() : Convert(value));
}

inline Variant MemoryField::Convert(const Variant& value) const {
  const auto type = value.VType();
  const bool integral = type == varSmallint || type == varInteger || type == varShortInt ||
                        type == varByte || type == varBoolean;
  const bool floating =
      type == varSingle || type == varDouble || type == varCurrency || type == varDate;
  switch (spec_.kind) {
    case ColumnKind::Text:
      if (type == varEmpty) return Variant::String("");
      if (type == varString || type == varOleStr) return Variant::String(value.Text());
      if (integral) return Variant::String(platform::IntToStr(value.IntValue()));
      if (floating) return Variant::String(platform::FloatToStrGeneral(value.DoubleValue()));
      Invalid();
    case ColumnKind::Float: {
      if (type == varEmpty) return Variant::Double(0.0);
      if (integral) return Variant::Double(static_cast<double>(value.IntValue()));
      if (floating) return Variant::Double(value.DoubleValue());
      double parsed = 0.0;
      if (type == varString && platform::TryStrToFloat(value.Text(), parsed))
        return Variant::Double(parsed);
      Invalid();
    }
    case ColumnKind::Integer: {
      if (type == varEmpty) return Variant::Integer(0);
      if (integral) return Variant::Integer(static_cast<std::int32_t>(value.IntValue()));
      if (floating) {
        const double d = value.DoubleValue();
        if (d >= -2147483648.0 && d <= 2147483647.0 && d == std::trunc(d)) {
          return Variant::Integer(static_cast<std::int32_t>(d));
        }
      }
      std::int32_t parsed = 0;
      if (type == varString && platform::TryStrToInt(platform::Trim(value.Text()), parsed)) {
        return Variant::Integer(parsed);
      }
      Invalid();
    }
  }
  Invalid();
}

}  // namespace recordtest
