#pragma once
// TDateTime arithmetic (days since 1899-12-30, proleptic Gregorian calendar) and its
// text forms by the regional settings.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FormatSettings.h"
#include "platform/Variant.h"

namespace platform {

// A date of the proleptic Gregorian calendar. The year may lie outside 1..9999.
struct CivilDate {
  std::int64_t year = 1899;
  unsigned month = 12;
  unsigned day = 30;
};

// Days from 1899-12-30 (day 0 of TDateTime) to a valid date, and back. The one calendar
// computation of the program: TDateTime, workbook dates and database date texts use it.
std::int64_t DaysFromCivil(const CivilDate& date);
CivilDate CivilFromDays(std::int64_t days);

bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
// Calendar date of the whole part (truncated toward zero) and time of day of the
// fraction, in whole milliseconds. False when the value is out of range or not finite.
bool TryDecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                       int& second, int& millisecond);
int DayOfWeek(TDateTime value);  // 1 = Sunday ... 7 = Saturday

TDateTime Now();  // local date and time, millisecond resolution
TDateTime NowUtc();
// Bias of the local time zone in minutes, standard time (local + bias = UTC).
int LocalZoneBiasMinutes();

// Formats by a date-time pattern: c, d, dd, ddd, dddd, ddddd, dddddd, m, mm, mmm, mmmm
// (m after h is minutes), yy, yyyy, h, hh, n, nn, s, ss, z, zzz, t, tt, am/pm, a/p,
// ampm, "/" and ":" as the locale's separators, quoted literals. "c" (also an empty
// pattern) is the short date, followed by the long time when the value has hours,
// minutes or seconds.
std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& fs = FormatSettings);

// A date in the order of fs.ShortDateFormat with fs.DateSeparator (blanks may follow a
// separator), optionally followed by a time (h[:n[:s[.z]]] with fs.TimeSeparator,
// optional AM/PM); or a time alone. Blanks around are allowed. A date of day and month
// alone takes the current year; a year of one or two digits falls within the hundred
// years that begin fifty years before the current one ("76" in 2026 is 1976). A time
// needs a separator or an AM/PM marker, so a plain number is no date-time. The
// milliseconds follow "." or the decimal separator (".5" is 500 ms).
bool TryStrToDateTime(std::string_view text, TDateTime& value,
                      const TFormatSettings& fs = FormatSettings);

}  // namespace platform
