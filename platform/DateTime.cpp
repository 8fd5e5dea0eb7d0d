#include "platform/DateTime.h"

#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdint>

#include "platform/Ascii.h"
#include "platform/Text.h"

namespace platform {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// 1899-12-30 as a day of the system clock (counted from 1970-01-01).
constexpr std::int64_t kEpochShift = -25569;
// The Gregorian calendar repeats every 400 years, which are this many days.
constexpr std::int64_t kDaysPer400Years = 146097;
// Day numbers (days since 1899-12-30) of 0001-01-01 and 9999-12-31.
constexpr std::int64_t kMinDay = -693593;
constexpr std::int64_t kMaxDay = 2958465;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeap(y)) ? 29 : days[m - 1];
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool StartsWithNoCase(std::string_view s, std::size_t pos, std::string_view what) {
  if (pos + what.size() > s.size()) return false;
  for (std::size_t i = 0; i < what.size(); ++i) {
    if (Lower(s[pos + i]) != Lower(what[i])) return false;
  }
  return true;
}

// True when the pattern (outside quoted literals) asks for a 12-hour clock.
bool UsesTwelveHour(std::string_view pattern) {
  char quote = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (StartsWithNoCase(pattern, i, "am/pm") || StartsWithNoCase(pattern, i, "a/p") ||
               StartsWithNoCase(pattern, i, "ampm")) {
      return true;
    }
  }
  return false;
}

void AppendNumber(std::string& out, int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) {
    out.append(static_cast<std::size_t>(width) - digits.size(), '0');
  }
  out += digits;
}

struct Fields {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, ms = 0;
  int dayOfWeek = 7;
  bool hasTime = false;
};

void AppendFormatted(std::string& out, std::string_view pattern, const Fields& f,
                     const TFormatSettings& fs, int depth) {
  if (depth > 2) return;
  const bool twelve = UsesTwelveHour(pattern);
  char lastToken = 0;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char raw = pattern[i];
    const char c = Lower(raw);
    std::size_t run = 1;
    while (i + run < pattern.size() && Lower(pattern[i + run]) == c) ++run;
    switch (c) {
      case '"':
      case '\'': {
        const std::size_t close = pattern.find(raw, i + 1);
        const std::size_t stop = close == std::string_view::npos ? pattern.size() : close;
        out.append(pattern.substr(i + 1, stop - i - 1));
        i = stop == pattern.size() ? stop : stop + 1;
        continue;
      }
      case 'c':
        AppendFormatted(out, fs.ShortDateFormat, f, fs, depth + 1);
        if (f.hasTime) {
          out.push_back(' ');
          AppendFormatted(out, fs.LongTimeFormat, f, fs, depth + 1);
        }
        i += 1;
        lastToken = c;
        continue;
      case 'd':
        if (run == 1 || run == 2) {
          AppendNumber(out, f.day, static_cast<int>(run));
        } else if (run == 3) {
          out += fs.ShortDayNames[static_cast<std::size_t>(f.dayOfWeek - 1)];
        } else if (run == 4) {
          out += fs.LongDayNames[static_cast<std::size_t>(f.dayOfWeek - 1)];
        } else if (run == 5) {
          AppendFormatted(out, fs.ShortDateFormat, f, fs, depth + 1);
        } else {
          AppendFormatted(out, fs.LongDateFormat, f, fs, depth + 1);
        }
        break;
      case 'm':
        if (lastToken == 'h' && run <= 2) {
          AppendNumber(out, f.minute, static_cast<int>(run));
        } else if (run <= 2) {
          AppendNumber(out, f.month, static_cast<int>(run));
        } else if (run == 3) {
          out += fs.ShortMonthNames[static_cast<std::size_t>(f.month - 1)];
        } else {
          out += fs.LongMonthNames[static_cast<std::size_t>(f.month - 1)];
        }
        break;
      case 'y':
        if (run <= 2) {
          AppendNumber(out, f.year % 100, 2);
        } else {
          AppendNumber(out, f.year, 4);
        }
        break;
      case 'h': {
        int h = f.hour;
        if (twelve) {
          h %= 12;
          if (h == 0) h = 12;
        }
        AppendNumber(out, h, run >= 2 ? 2 : 1);
        break;
      }
      case 'n':
        AppendNumber(out, f.minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        AppendNumber(out, f.second, run >= 2 ? 2 : 1);
        break;
      case 'z':
        AppendNumber(out, f.ms, run >= 3 ? 3 : 1);
        break;
      case 't':
        AppendFormatted(out, run >= 2 ? fs.LongTimeFormat : fs.ShortTimeFormat, f, fs, depth + 1);
        break;
      case 'a':
        if (StartsWithNoCase(pattern, i, "am/pm")) {
          const bool upper = raw == 'A';
          out += f.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
          i += 5;
          continue;
        }
        if (StartsWithNoCase(pattern, i, "a/p")) {
          const bool upper = raw == 'A';
          out += f.hour < 12 ? (upper ? "A" : "a") : (upper ? "P" : "p");
          i += 3;
          continue;
        }
        if (StartsWithNoCase(pattern, i, "ampm")) {
          out += f.hour < 12 ? fs.TimeAMString : fs.TimePMString;
          i += 4;
          continue;
        }
        out.push_back(raw);
        i += 1;
        continue;
      case '/':  // separators leave the previous token as it was: "h:m" is minutes
        out.append(run, fs.DateSeparator);
        i += run;
        continue;
      case ':':
        out.append(run, fs.TimeSeparator);
        i += run;
        continue;
      default:
        out.append(pattern.substr(i, run));
        i += run;
        continue;
    }
    lastToken = c;
    i += run;
  }
}

// ---- parsing ----

struct Cursor {
  std::string_view s;
  std::size_t pos = 0;
  bool End() const { return pos >= s.size(); }
  char Peek() const { return pos < s.size() ? s[pos] : '\0'; }
  void SkipBlanks() {
    while (pos < s.size() && IsBlankByte(s[pos])) ++pos;
  }
  // Reads 1 to maxDigits decimal digits.
  bool Number(int& value, int& digits, int maxDigits) {
    value = 0;
    digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      if (++digits > maxDigits) return false;
      value = value * 10 + (s[pos] - '0');
      ++pos;
    }
    return digits > 0;
  }
};

// The order of day, month and year in a short date pattern: "DMY", "MDY" or "YMD".
std::string DateOrder(std::string_view pattern) {
  std::string order;
  char quote = 0;
  for (char ch : pattern) {
    if (quote) {
      if (ch == quote) quote = 0;
      continue;
    }
    if (ch == '"' || ch == '\'') {
      quote = ch;
      continue;
    }
    const char c = Lower(ch);
    if ((c == 'd' || c == 'm' || c == 'y') &&
        order.find(static_cast<char>(c - 32)) == std::string::npos) {
      order.push_back(static_cast<char>(c - 32));
    }
  }
  return order.size() == 3 ? order : "MDY";
}

int CurrentYear() {
  int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, z = 0;
  if (!TryDecodeDateTime(Now(), y, m, d, h, n, s, z)) return 2000;
  return y;
}

// Day, month and year in `order`, or day and month alone (their order kept), which take
// the current year. Blanks may follow a separator.
bool ParseDate(Cursor& cur, char separator, const std::string& order, TDateTime& date) {
  int values[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int count = 0;
  while (count < 3) {
    if (count > 0) {
      if (cur.Peek() != separator) break;
      const std::size_t before = cur.pos;
      ++cur.pos;
      cur.SkipBlanks();
      if (cur.Peek() < '0' || cur.Peek() > '9') {
        cur.pos = before;
        break;
      }
    }
    if (!cur.Number(values[count], digits[count], 4)) return false;
    ++count;
  }
  if (count < 2) return false;
  int year = 0, month = 0, day = 0, yearDigits = 0;
  if (count == 2) {
    const bool dayFirst = order.find('D') < order.find('M');
    day = values[dayFirst ? 0 : 1];
    month = values[dayFirst ? 1 : 0];
    year = CurrentYear();
    yearDigits = 4;
  }
  for (int k = 0; k < count && count == 3; ++k) {
    switch (order[static_cast<std::size_t>(k)]) {
      case 'D':
        day = values[k];
        break;
      case 'M':
        month = values[k];
        break;
      default:
        year = values[k];
        yearDigits = digits[k];
        break;
    }
  }
  if (yearDigits <= 2) {
    // One or two digits: the year within the hundred years that begin fifty years
    // before the current one.
    const int first = CurrentYear() - 50;
    year += first / 100 * 100;
    if (year < first) year += 100;
  }
  return TryEncodeDate(year, month, day, date);
}

bool MatchMarker(Cursor& cur, const std::string& marker) {
  if (marker.empty() || !StartsWithNoCase(cur.s, cur.pos, marker)) return false;
  cur.pos += marker.size();
  return true;
}

// h[:n[:s[.z]]] with an optional AM/PM marker; needs a separator or a marker so that a
// plain number is no time.
bool ParseTime(Cursor& cur, const TFormatSettings& fs, TDateTime& time) {
  int parts[3] = {0, 0, 0};
  int ms = 0;
  int count = 0;
  int digits = 0;
  if (!cur.Number(parts[0], digits, 2)) return false;
  count = 1;
  while (count < 3 && cur.Peek() == fs.TimeSeparator) {
    ++cur.pos;
    if (!cur.Number(parts[count], digits, 2)) return false;
    ++count;
  }
  if (count == 3 && (cur.Peek() == '.' || cur.Peek() == fs.DecimalSeparator)) {
    ++cur.pos;
    int fraction = 0;
    if (!cur.Number(fraction, digits, 3)) return false;
    ms = fraction * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
  }
  cur.SkipBlanks();
  int half = -1;  // 0 = AM, 1 = PM
  if (MatchMarker(cur, fs.TimeAMString) || MatchMarker(cur, "AM") || MatchMarker(cur, "A")) {
    half = 0;
  } else if (MatchMarker(cur, fs.TimePMString) || MatchMarker(cur, "PM") || MatchMarker(cur, "P")) {
    half = 1;
  }
  if (count == 1 && half < 0) return false;
  int hour = parts[0];
  if (half >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (half == 1 ? 12 : 0);
  }
  return TryEncodeTime(hour, parts[1], parts[2], ms, time);
}

}  // namespace

// std::chrono's year holds -32767..32767 only; the 400-year cycle of the calendar brings
// any year into 2000..2399 and back, so the chrono conversion serves every year.
std::int64_t DaysFromCivil(const CivilDate& date) {
  const std::int64_t cycles = (date.year >= 2000 ? date.year - 2000 : date.year - 2399) / 400;
  const auto inCycle = static_cast<int>(date.year - cycles * 400);
  const std::chrono::sys_days day{std::chrono::year{inCycle} / std::chrono::month{date.month} /
                                  std::chrono::day{date.day}};
  return static_cast<std::int64_t>(day.time_since_epoch().count()) + cycles * kDaysPer400Years -
         kEpochShift;
}

CivilDate CivilFromDays(std::int64_t days) {
  // Day 0 of the cycle is 2000-01-01 (10957 days after 1970-01-01).
  constexpr std::int64_t k20000101 = 10957 - kEpochShift;
  const std::int64_t fromCycleStart = days - k20000101;
  const std::int64_t cycles =
      (fromCycleStart >= 0 ? fromCycleStart : fromCycleStart - (kDaysPer400Years - 1)) /
      kDaysPer400Years;
  const std::chrono::sys_days day{
      std::chrono::days{days - cycles * kDaysPer400Years + kEpochShift}};
  const std::chrono::year_month_day ymd{day};
  return {static_cast<int>(ymd.year()) + cycles * 400, static_cast<unsigned>(ymd.month()),
          static_cast<unsigned>(ymd.day())};
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  result = static_cast<double>(
      DaysFromCivil({year, static_cast<unsigned>(month), static_cast<unsigned>(day)}));
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  const std::int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000LL + millisecond;
  result = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return true;
}

bool TryDecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                       int& second, int& millisecond) {
  if (!std::isfinite(value) || value < static_cast<double>(kMinDay) - 1 ||
      value > static_cast<double>(kMaxDay) + 1) {
    return false;
  }
  // The whole part is the date and the fraction, also of a negative value, the time
  // of day; a time that rounds to midnight moves on to the next day.
  std::int64_t days = static_cast<std::int64_t>(std::trunc(value));
  std::int64_t ms =
      std::llround(std::fabs(value - static_cast<double>(days)) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += value < 0 ? -1 : 1;
  }
  if (days < kMinDay || days > kMaxDay) return false;
  const CivilDate date = CivilFromDays(days);
  year = static_cast<int>(date.year);
  month = static_cast<int>(date.month);
  day = static_cast<int>(date.day);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
  return true;
}

int DayOfWeek(TDateTime value) {
  const auto days = static_cast<std::int64_t>(std::trunc(value));
  return static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
}

namespace {
TDateTime FromTm(const struct tm& t, long nanoseconds) {
  TDateTime date = 0, time = 0;
  TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, date);
  TryEncodeTime(t.tm_hour, t.tm_min, t.tm_sec > 59 ? 59 : t.tm_sec,
                static_cast<int>(nanoseconds / 1000000), time);
  return date + time;
}
}  // namespace

TDateTime Now() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t {};
  localtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

TDateTime NowUtc() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t {};
  gmtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

int LocalZoneBiasMinutes() {
  tzset();
  return static_cast<int>(timezone / 60);
}

std::string FormatDateTime(std::string_view pattern, TDateTime value, const TFormatSettings& fs) {
  Fields f;
  if (!TryDecodeDateTime(value, f.year, f.month, f.day, f.hour, f.minute, f.second, f.ms)) {
    return std::string();
  }
  f.dayOfWeek = DayOfWeek(value);
  // "c" shows the time only when it has hours, minutes or seconds.
  f.hasTime = f.hour != 0 || f.minute != 0 || f.second != 0;
  std::string out;
  AppendFormatted(out, pattern.empty() ? std::string_view("c") : pattern, f, fs, 0);
  return out;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  const std::string_view t = TrimView(text);
  if (t.empty()) return false;

  Cursor cur{t};
  TDateTime date = 0;
  if (ParseDate(cur, fs.DateSeparator, DateOrder(fs.ShortDateFormat), date)) {
    if (cur.End()) {
      value = date;
      return true;
    }
    if (static_cast<unsigned char>(cur.Peek()) > 32) return false;
    cur.SkipBlanks();
    TDateTime time = 0;
    if (!ParseTime(cur, fs, time) || !cur.End()) return false;
    value = date < 0 ? date - time : date + time;
    return true;
  }
  Cursor timeCur{t};
  TDateTime time = 0;
  if (!ParseTime(timeCur, fs, time) || !timeCur.End()) return false;
  value = time;
  return true;
}

}  // namespace platform
