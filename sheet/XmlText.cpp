#include "sheet/XmlText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/DateTime.h"

namespace sheet {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly `width` digits (or at least one and at most `width` when `exact` is
// false) from `text` at `pos`.
bool ReadDigits(std::string_view text, std::size_t& pos, std::size_t width, bool exact,
                std::int64_t& value) {
  std::size_t n = 0;
  value = 0;
  while (pos < text.size() && n < width && IsDigit(text[pos])) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++n;
  }
  return exact ? n == width : n > 0;
}

bool ReadChar(std::string_view text, std::size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

// Seconds with an optional fraction ("30", "30.25").
bool ReadSeconds(std::string_view text, std::size_t& pos, double& seconds) {
  const std::size_t start = pos;
  while (pos < text.size() && (IsDigit(text[pos]) || text[pos] == '.')) ++pos;
  if (pos == start) return false;
  const auto value = ParseXmlNumber(text.substr(start, pos - start));
  if (!value) return false;
  seconds = *value;
  return true;
}

}  // namespace

bool ParseCellReference(std::string_view reference, std::uint32_t& row, std::uint32_t& column) {
  std::size_t pos = 0;
  ReadChar(reference, pos, '$');
  std::uint64_t col = 0;
  std::size_t letters = 0;
  while (pos < reference.size()) {
    char c = reference[pos];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') break;
    col = col * 26 + static_cast<std::uint64_t>(c - 'A' + 1);
    if (++letters > 7) return false;
    ++pos;
  }
  if (letters == 0) return false;
  ReadChar(reference, pos, '$');
  std::uint64_t number = 0;
  std::size_t digits = 0;
  while (pos < reference.size() && IsDigit(reference[pos])) {
    number = number * 10 + static_cast<std::uint64_t>(reference[pos] - '0');
    if (++digits > 10) return false;
    ++pos;
  }
  if (digits == 0 || pos != reference.size() || number == 0) return false;
  if (col > 0x80000000ull || number > 0x80000000ull) return false;
  column = static_cast<std::uint32_t>(col - 1);
  row = static_cast<std::uint32_t>(number - 1);
  return true;
}

std::optional<double> ParseXmlNumber(std::string_view text) {
  if (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back()))) text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  // from_chars would accept "inf" and "nan"; the XML number forms start with a digit,
  // a point or a minus sign.
  const char first = text.front() == '-' && text.size() > 1 ? text[1] : text.front();
  if (!IsDigit(first) && first != '.') return std::nullopt;
  // Most numbers in a workbook have a few digits and no exponent: with at most 15 digits
  // both the digits as an integer and the power of ten are exact doubles, and their
  // quotient is the correctly rounded value, the same that from_chars finds.
  {
    static constexpr double kPowers[] = {1,   10,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = text.front() == '-';
    const char* p = text.data() + (negative ? 1 : 0);
    const char* const last = text.data() + text.size();
    // More than 15 digits leave this path, so that wrapping of `digits` does no harm.
    std::uint64_t digits = 0;
    const char* const whole = p;
    while (p != last && IsDigit(*p)) digits = digits * 10 + static_cast<std::uint64_t>(*p++ - '0');
    std::ptrdiff_t count = p - whole;
    std::ptrdiff_t decimals = -1;
    if (p != last && *p == '.' && count > 0) {
      const char* const fraction = ++p;
      while (p != last && IsDigit(*p))
        digits = digits * 10 + static_cast<std::uint64_t>(*p++ - '0');
      decimals = p - fraction;
      count += decimals;
    }
    if (p == last && count <= 15 && decimals != 0) {
      const double magnitude = static_cast<double>(digits) / kPowers[decimals < 0 ? 0 : decimals];
      return negative ? -magnitude : magnitude;
    }
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint32_t> ParseXmlUnsigned(std::string_view text) {
  text = TrimBlanks(text);
  std::uint32_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> ParseIsoDateTime(std::string_view text) {
  text = TrimBlanks(text);
  std::size_t pos = 0;
  const bool negative = ReadChar(text, pos, '-');
  std::int64_t year = 0, month = 0, day = 0;
  if (!ReadDigits(text, pos, 4, true, year)) return std::nullopt;
  while (pos < text.size() && IsDigit(text[pos]) && year < 100000) {
    year = year * 10 + (text[pos++] - '0');
  }
  if (negative) year = -year;
  if (!ReadChar(text, pos, '-') || !ReadDigits(text, pos, 2, true, month) ||
      !ReadChar(text, pos, '-') || !ReadDigits(text, pos, 2, true, day)) {
    return std::nullopt;
  }
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1]) return std::nullopt;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return std::nullopt;
  double result = static_cast<double>(
      platform::DaysFromCivil({year, static_cast<unsigned>(month), static_cast<unsigned>(day)}));
  if (ReadChar(text, pos, 'T')) {
    std::int64_t hour = 0, minute = 0;
    double second = 0;
    if (!ReadDigits(text, pos, 2, true, hour) || !ReadChar(text, pos, ':') ||
        !ReadDigits(text, pos, 2, true, minute)) {
      return std::nullopt;
    }
    if (ReadChar(text, pos, ':') && !ReadSeconds(text, pos, second)) return std::nullopt;
    if (hour > 24 || minute > 59 || second >= 61) return std::nullopt;
    const double fraction =
        (static_cast<double>(hour) * 3600 + static_cast<double>(minute) * 60 + second) / 86400.0;
    // Before 1899-12-30 the day count is negative and the time of day still counts
    // forward from midnight: the value is -(days) + fraction in magnitude terms.
    result = result >= 0 ? result + fraction : result - fraction;
  }
  // A zone suffix ("Z", "+03:00") is accepted and ignored.
  if (pos < text.size()) {
    if (text[pos] == 'Z' && pos + 1 == text.size()) return result;
    if ((text[pos] == '+' || text[pos] == '-') && text.size() - pos == 6 && text[pos + 3] == ':') {
      return result;
    }
    return std::nullopt;
  }
  return result;
}

std::optional<double> ParseIsoDuration(std::string_view text) {
  text = TrimBlanks(text);
  std::size_t pos = 0;
  const bool negative = ReadChar(text, pos, '-');
  if (!ReadChar(text, pos, 'P')) return std::nullopt;
  double seconds = 0;
  bool inTime = false;
  bool any = false;
  while (pos < text.size()) {
    if (!inTime && ReadChar(text, pos, 'T')) {
      inTime = true;
      continue;
    }
    double value = 0;
    if (!ReadSeconds(text, pos, value) || pos >= text.size()) return std::nullopt;
    const char unit = text[pos++];
    if (!inTime && unit == 'D') {
      seconds += value * 86400;
    } else if (inTime && unit == 'H') {
      seconds += value * 3600;
    } else if (inTime && unit == 'M') {
      seconds += value * 60;
    } else if (inTime && unit == 'S') {
      seconds += value;
    } else {
      return std::nullopt;
    }
    any = true;
  }
  if (!any) return std::nullopt;
  const double days = seconds / 86400.0;
  return negative ? -days : days;
}

void DecodeSpreadsheetEscapes(std::string& text) {
  if (text.find("_x") == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  auto escapeAt = [&](std::size_t i, std::uint32_t& unit) {
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') {
      return false;
    }
    unit = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
      const int h = HexValue(text[k]);
      if (h < 0) return false;
      unit = unit * 16 + static_cast<std::uint32_t>(h);
    }
    return true;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    std::uint32_t unit = 0;
    if (!escapeAt(i, unit)) {
      out += text[i++];
      continue;
    }
    i += 7;
    // The escapes carry UTF-16 code units: join a surrogate pair.
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      std::uint32_t low = 0;
      if (escapeAt(i, low) && low >= 0xDC00 && low <= 0xDFFF) {
        i += 7;
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
      unit = 0xFFFD;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      unit = 0xFFFD;
    }
    AppendUtf8(out, unit);
  }
  text.swap(out);
}

}  // namespace sheet
