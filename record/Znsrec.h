#pragma once
// The record model: named, typed field values (TZnFFSField) and ordered records of them
// (TZnFFSRecord) that read one separated text line, render themselves as INSERT and
// UPDATE text and store themselves into a dataset row.
//
// Every operation accepts a missing object, which is what a failed lookup returns.
// Calling a member function through a null pointer is undefined behaviour, so the forms
// that take the object as a pointer live in namespace znsrec (znsrec::GetIsNull(field),
// znsrec::ScanString(record, line, '\t') ...): they give the neutral result on nullptr.
// Use them wherever the pointer may be null; the member functions assume a valid object.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DataSet.h"
#include "platform/Variant.h"

class TZnFFSField {
 public:
  // The defaults of SetDF.
  TZnFFSField();
  // The defaults, then Assign(source); a null source leaves the defaults.
  explicit TZnFFSField(const TZnFFSField* source);
  TZnFFSField(const TZnFFSField&) = default;
  TZnFFSField& operator=(const TZnFFSField&) = default;
  virtual ~TZnFFSField() = default;

  // Type "char", empty Name and Format, Null Value and DefValue, tags 0, flags false.
  void SetDF();
  // Copies every attribute of `source` (the type through SetType); a null source applies
  // SetDF; assigning a field to itself does nothing.
  virtual void Assign(const TZnFFSField* source);
  // Stores the canonical type name for `text`: "char", "varchar", "integer", "float" or
  // "datetime", decided by the beginning of the trimmed, lower-cased text.
  void SetType(const std::string& text);

  void SetAsString(std::string s);
  void SetAsInteger(int i);
  void SetAsFloat(double x);
  void SetAsDateTime(TDateTime t);

  // The value as text by Format.
  std::string GetAsString() const;
  // Raise EConvertError for a text value that does not read as a number.
  double GetAsFloat() const;
  // The number truncated toward zero; values beyond the 32-bit range saturate at its
  // limits and NaN gives 0.
  int GetAsInteger() const;
  // The text form read as a date-time of the locale, else the value as a number; 0 for a
  // blank text form.
  TDateTime GetAsDateTime() const;
  // The value as an SQL literal of the process-wide dialect; "NULL" for Null and Empty.
  std::string GetAsSQLConstant() const;
  // True for Empty and Null only.
  bool GetIsNull() const;
  // True for Empty, Null, zero, a zero date-time, a blank text.
  bool GetIsEmpty() const;

  std::string Type;    // canonical type name; steers line scanning only
  std::string Name;    // stored as given; matched trimmed and upper-cased
  Variant Value;       // the current value
  std::string Format;  // number or date-time pattern for the text form
  // Two free integer attributes for callers (0 after SetDF, copied by Assign); nothing
  // in the record model reads them.
  std::int32_t Tag1 = 0;
  std::int32_t Tag2 = 0;
  Variant DefValue;      // what a scanned field takes for a missing, blank or bad cell
  bool NoScan = false;   // true: line scanning neither reads nor touches the field
  bool NoStore = false;  // true: left out of SQL text and dataset insertion
};

namespace znsrec {
// A cell that held text but did not convert for its field's type, so the field took its
// DefValue: the field's index in Fields and the cell's index in Cells.
struct ScanFailure {
  int field = 0;
  int cell = 0;
};
}  // namespace znsrec

class TZnFFSRecord {
 public:
  TZnFFSRecord() = default;
  // An empty record, then Assign(source).
  explicit TZnFFSRecord(const TZnFFSRecord* source);
  TZnFFSRecord(const TZnFFSRecord&) = delete;
  TZnFFSRecord& operator=(const TZnFFSRecord&) = delete;
  virtual ~TZnFFSRecord();

  // Replaces the fields by deep copies of those of `source` and copies CellPos and
  // ScanCount; a null source leaves the record empty; assigning to itself does nothing.
  // Cells keeps its contents.
  virtual void Assign(const TZnFFSRecord* source);
  // Destroys every field (last first) and resets CellPos and ScanCount. Cells stays.
  void Clear();

  int GetCount() const;
  // nullptr when index is out of range.
  TZnFFSField* GetItem(int index) const;
  // The first field whose name matches (both trimmed, upper-cased, Cyrillic included);
  // nullptr for a blank name or no match.
  TZnFFSField* FieldByName(const std::string& name) const;
  TZnFFSField* ByName(const std::string& name) const;
  // The last field whose name matches.
  TZnFFSField* ByNameTail(const std::string& name) const;

  // Appends a field named by the trimmed `name` (nullptr and nothing added when it is
  // blank); scan false sets NoScan, store false sets NoStore.
  TZnFFSField* Add(const std::string& name, const std::string& type, bool scan, Variant value,
                   Variant defValue, bool store);
  // A scanned and stored field with Null value and default.
  TZnFFSField* Add(const std::string& name, const std::string& type);
  // Appends a copy of `field` named by the trimmed `name`, or by the field's own name
  // when `name` is blank. nullptr for a null field.
  TZnFFSField* Add(const TZnFFSField* field, const std::string& name);
  // Appends copies of the fields of `source` that `fieldList` names (all of them for a
  // blank list). Returns the last copy, or nullptr when none was appended or `source`
  // is null or this record.
  TZnFFSField* Add(const TZnFFSRecord* source, const std::string& fieldList);
  // As the first Add, but updates the last field of that name when there is one
  // (attributes Add does not set, Format among them, are kept).
  TZnFFSField* UpdAdd(const std::string& name, const std::string& type, bool scan, Variant value,
                      Variant defValue, bool store);
  // As Add(source, fieldList), but a field of the same name (the last one) takes the
  // source field's attributes instead of a copy being appended.
  TZnFFSField* UpdAdd(const TZnFFSRecord* source, const std::string& fieldList);
  // Removes and destroys every field that `fieldList` names, duplicates included; a
  // blank list removes nothing.
  void Delete(const std::string& fieldList);

  // Reads one line into the fields: the fields without NoScan take the cells of the line
  // in order (cells separated by `separator`, CR, LF or CR LF; '\0' splits at line
  // breaks only), converted by their Type, or their DefValue for a missing, blank or
  // unconvertible cell. False for a record without fields or a blank line.
  bool ScanString(const std::string& line, char separator);

  // "Insert Into <table> \r\n(<names>) \nValues \r\n(<values>)" over the fields without
  // NoStore; empty when there is none.
  std::string InsertSQL(const std::string& table) const;
  // "Update <table> Set \r\n  <name> = <value> \r\n ,<name> = <value> \r\n" ... then
  // "Where <where>" unless `where` is blank; empty when no field is stored.
  std::string UpdateSQL(const std::string& table, const std::string& where) const;
  // Stores the values of the fields without NoStore into the columns of the same names
  // of a new row (or of the row being edited or inserted), posting it when `post` is
  // true. False, and a row this call began cancelled, when nothing was stored; false for
  // a null or closed dataset. Errors of the dataset reach the caller.
  bool Insert(TDataSet* dataSet, bool post);

  std::vector<std::unique_ptr<TZnFFSField>> Fields;  // layout order; no null entries
  std::vector<std::string> Cells;                    // the cells of the line scanned last
  int CellPos = 0;                                   // cells consumed by the last scan
  int ScanCount = 0;  // fields that took a value from a cell in the last scan
  // Where a scan notes the cells that did not convert; nullptr (the default): nowhere.
  // Each scan empties the list first and appends only on a failed conversion, so a
  // scan of clean lines costs nothing more.
  std::vector<znsrec::ScanFailure>* failureSink = nullptr;

 private:
  TZnFFSField* Append(std::unique_ptr<TZnFFSField> field);
  TZnFFSField* Find(std::string_view name, bool fromBack) const;
  void SplitCells(std::string_view line, char separator);

  std::vector<std::string> spareCells_;  // buffers of earlier cells, reused by later scans
  std::string scratch_;                  // a float cell after separator harmonisation
};

// The null-safe forms: nullptr gives "nothing happens", 0, nullptr, false, "" or "NULL"
// (GetAsSQLConstant), and GetIsNull/GetIsEmpty are true.
namespace znsrec {

void SetDF(TZnFFSField* field);
void Assign(TZnFFSField* field, const TZnFFSField* source);
void SetType(TZnFFSField* field, const std::string& text);
void SetAsString(TZnFFSField* field, std::string s);
void SetAsInteger(TZnFFSField* field, int i);
void SetAsFloat(TZnFFSField* field, double x);
void SetAsDateTime(TZnFFSField* field, TDateTime t);
std::string GetAsString(const TZnFFSField* field);
double GetAsFloat(const TZnFFSField* field);
int GetAsInteger(const TZnFFSField* field);
TDateTime GetAsDateTime(const TZnFFSField* field);
std::string GetAsSQLConstant(const TZnFFSField* field);
bool GetIsNull(const TZnFFSField* field);
bool GetIsEmpty(const TZnFFSField* field);

void Assign(TZnFFSRecord* record, const TZnFFSRecord* source);
void Clear(TZnFFSRecord* record);
int GetCount(const TZnFFSRecord* record);
TZnFFSField* GetItem(const TZnFFSRecord* record, int index);
TZnFFSField* FieldByName(const TZnFFSRecord* record, const std::string& name);
TZnFFSField* ByName(const TZnFFSRecord* record, const std::string& name);
TZnFFSField* ByNameTail(const TZnFFSRecord* record, const std::string& name);
TZnFFSField* Add(TZnFFSRecord* record, const std::string& name, const std::string& type, bool scan,
                 Variant value, Variant defValue, bool store);
TZnFFSField* Add(TZnFFSRecord* record, const std::string& name, const std::string& type);
TZnFFSField* Add(TZnFFSRecord* record, const TZnFFSField* field, const std::string& name);
TZnFFSField* Add(TZnFFSRecord* record, const TZnFFSRecord* source, const std::string& fieldList);
TZnFFSField* UpdAdd(TZnFFSRecord* record, const std::string& name, const std::string& type,
                    bool scan, Variant value, Variant defValue, bool store);
TZnFFSField* UpdAdd(TZnFFSRecord* record, const TZnFFSRecord* source, const std::string& fieldList);
void Delete(TZnFFSRecord* record, const std::string& fieldList);
bool ScanString(TZnFFSRecord* record, const std::string& line, char separator);
std::string InsertSQL(const TZnFFSRecord* record, const std::string& table);
std::string UpdateSQL(const TZnFFSRecord* record, const std::string& table,
                      const std::string& where);
bool Insert(TZnFFSRecord* record, TDataSet* dataSet, bool post);

// Whether two field names match: both trimmed and upper-cased (Latin, Latin-1 and
// Cyrillic letters), then compared. Allocates nothing.
bool NamesMatch(std::string_view a, std::string_view b);

}  // namespace znsrec
