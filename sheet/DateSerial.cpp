#include "sheet/DateSerial.h"

#include "sheet/Workbook.h"

namespace sheet {
namespace {

// Days from 1899-12-30 to 1904-01-01, the first day of the 1904 date system.
constexpr double k1904Offset = 1462.0;

bool IsDateToken(char c) {
  switch (c) {
    case 'd':
    case 'D':
    case 'm':
    case 'M':
    case 'y':
    case 'Y':
    case 'h':
    case 'H':
    case 's':
    case 'S':
      return true;
    default:
      return false;
  }
}

// "[h]", "[mm]", "[ss]": the inside of a bracket that shows elapsed time.
bool IsElapsedBracket(std::string_view inside) {
  return !inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos;
}

}  // namespace

FormatKind KindOfFormatCode(std::string_view code) {
  bool date = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const auto close = code.find('"', i + 1);
      if (close == std::string_view::npos) return date ? FormatKind::Calendar : FormatKind::Number;
      i = close;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // the next character is literal text, padding or fill
    } else if (c == '[') {
      const auto close = code.find(']', i + 1);
      if (close == std::string_view::npos) return date ? FormatKind::Calendar : FormatKind::Number;
      // Colours, conditions and locales are not dates.
      if (IsElapsedBracket(code.substr(i + 1, close - i - 1))) return FormatKind::Duration;
      i = close;
    } else if (IsDateToken(c)) {
      date = true;
    }
  }
  return date ? FormatKind::Calendar : FormatKind::Number;
}

bool IsDateFormatCode(std::string_view code) {
  return KindOfFormatCode(code) != FormatKind::Number;
}

bool IsElapsedTimeFormatCode(std::string_view code) {
  return KindOfFormatCode(code) == FormatKind::Duration;
}

FormatKind KindOfBuiltinFormat(std::uint32_t id) {
  if (id == 46) return FormatKind::Duration;  // [h]:mm:ss
  const bool date = (id >= 14 && id <= 22) || (id >= 45 && id <= 47) || (id >= 27 && id <= 36) ||
                    (id >= 50 && id <= 58);
  return date ? FormatKind::Calendar : FormatKind::Number;
}

double SerialToDateTime(double serial, bool date1904) {
  if (date1904) return serial + k1904Offset;
  if (serial >= 1 && serial < 60) return serial + 1;
  return serial;
}

FormatKind NumberFormats::KindOfCellFormat(std::size_t index) const {
  if (index >= cellFormats_.size()) return FormatKind::Number;
  const std::uint32_t id = cellFormats_[index];
  const auto defined = defined_.find(id);
  return defined != defined_.end() ? defined->second : KindOfBuiltinFormat(id);
}

void NumberFormats::SetNumber(Cell& cell, double value, std::size_t index) const {
  switch (KindOfCellFormat(index)) {
    case FormatKind::Number:
      cell.kind = Cell::Kind::Number;
      cell.number = value;
      break;
    case FormatKind::Calendar:
      cell.kind = Cell::Kind::DateTime;
      cell.number = SerialToDateTime(value, date1904_);
      break;
    case FormatKind::Duration:
      cell.kind = Cell::Kind::DateTime;
      cell.number = value;
      break;
  }
}

}  // namespace sheet
