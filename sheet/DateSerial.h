#pragma once
// Date serials and number formats of workbooks, shared by the .xls, .xlsx and .ods
// readers: which number formats show dates, times or durations, and how a serial of the
// workbook's date system becomes a TDateTime (days since 1899-12-30).

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sheet {

struct Cell;

// What a number format makes of a number.
enum class FormatKind : std::uint8_t {
  Number,    // a plain number
  Calendar,  // a point in time: a date, a date and time, or a time of day
  Duration,  // elapsed time ("[h]:mm"): a length, never moved by the date system
};

// The kind of a number format code. A date or time has a day, month, year, hour or second
// token outside quoted text, escaped characters, padding and fill characters and
// bracketed parts ("[Red]", "[$-419]", "[>100]"); an elapsed-time bracket ("[h]", "[mm]")
// makes it a duration.
FormatKind KindOfFormatCode(std::string_view code);
// True when a number format code shows a date, a time or a duration.
bool IsDateFormatCode(std::string_view code);
// True when a number format code has an elapsed-time bracket such as [h] or [mm].
bool IsElapsedTimeFormatCode(std::string_view code);
// The kind of a built-in number format id that the workbook does not redefine: 14-22
// and 45-47 are dates and times of every locale (46, "[h]:mm:ss", a duration), 27-36 and
// 50-58 the dates and times of the East Asian locales.
FormatKind KindOfBuiltinFormat(std::uint32_t id);

// A serial of a workbook's calendar date as days since 1899-12-30. The 1900 system counts
// a 29 February 1900 that never was, so its serials 1 to 59 are one day behind the
// calendar: 1 is 1 January 1900 as the spreadsheet shows it, and the phantom day (60)
// falls on 28 February. A time of day alone (below 1) stays. The 1904 system counts from
// 1 January 1904.
double SerialToDateTime(double serial, bool date1904);

// The number formats of one workbook: the codes it defines by id and its cell formats
// (XF records, <cellXfs>) by index, each naming a number format id.
class NumberFormats {
 public:
  void Define(std::uint32_t id, std::string_view code) { defined_[id] = KindOfFormatCode(code); }
  void AddCellFormat(std::uint32_t formatId) { cellFormats_.push_back(formatId); }
  void SetDate1904(bool date1904) { date1904_ = date1904; }
  std::size_t DefinedCount() const { return defined_.size(); }
  std::size_t CellFormatCount() const { return cellFormats_.size(); }

  // The kind of the cell format at `index`; Number for an index the workbook lacks.
  FormatKind KindOfCellFormat(std::size_t index) const;
  // Makes `cell` a number or a date-time by the cell format at `index`: calendar values
  // converted by the date system, durations as they are.
  void SetNumber(Cell& cell, double value, std::size_t index) const;

 private:
  std::unordered_map<std::uint32_t, FormatKind> defined_;
  std::vector<std::uint32_t> cellFormats_;
  bool date1904_ = false;
};

}  // namespace sheet
