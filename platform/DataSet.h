#pragma once
// The dataset interface that the record model stores into: a table or query result
// with a current row, columns found by name, and insert/edit/post states.

#include <string>

#include "platform/Variant.h"

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TField {
 public:
  virtual ~TField() = default;
  virtual std::string FieldName() const = 0;
  virtual bool ReadOnly() const = 0;
  // May raise when the flag cannot be changed.
  virtual void SetReadOnly(bool readOnly) = 0;
  virtual Variant Value() const = 0;
  // Null clears the column to SQL NULL; any other value is converted by the column's
  // rules, and a value that does not suit raises
  // EDatabaseError("Invalid value for field '<name>'").
  virtual void SetValue(const Variant& value) = 0;
};

class TDataSet {
 public:
  virtual ~TDataSet() = default;
  virtual bool Active() const = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual TDataSetState State() const = 0;
  // Begins a new row at the current position.
  virtual void Insert() = 0;
  // The column of that name (letter case ignored), or nullptr.
  virtual TField* FindField(const std::string& name) = 0;
  virtual void Post() = 0;
  virtual void Cancel() = 0;
  virtual void DisableControls() = 0;
  virtual void EnableControls() = 0;
};
