#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "platform/DateTime.h"
#include "TestSupport.h"

using namespace platform;
using testsupport::CommaLocale;
using testsupport::PointLocale;

namespace {

TDateTime Date(int y, int m, int d) {
  TDateTime v = 0;
  EXPECT_TRUE(TryEncodeDate(y, m, d, v));
  return v;
}

TDateTime Time(int h, int n, int s, int z) {
  TDateTime v = 0;
  EXPECT_TRUE(TryEncodeTime(h, n, s, z, v));
  return v;
}

// Sets TZ for the lifetime of the object.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = getenv("TZ")) saved_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

}  // namespace

TEST(EncodeDate, ProlepticGregorianDayNumbers) {
  struct Case {
    const char* name;
    int y, m, d;
    bool ok;
    double days;
  } cases[] = {
      {"epoch", 1899, 12, 30, true, 0},
      {"first of 1900", 1900, 1, 1, true, 2},
      {"1900 is no leap year", 1900, 2, 29, false, 0},
      {"2000 is a leap year", 2000, 2, 29, true, 36585},
      {"2001 is not", 2001, 2, 29, false, 0},
      {"Christmas 2003", 2003, 12, 25, true, 37980},
      {"first day of year 1", 1, 1, 1, true, -693593},
      {"last day of year 9999", 9999, 12, 31, true, 2958465},
      {"year 0", 0, 1, 1, false, 0},
      {"year 10000", 10000, 1, 1, false, 0},
      {"month 13", 2003, 13, 1, false, 0},
      {"day 0", 2003, 1, 0, false, 0},
      {"April 31", 2003, 4, 31, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDateTime v = -1;
    EXPECT_EQ(TryEncodeDate(c.y, c.m, c.d, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.days);
    }
  }
}

TEST(CivilDays, DaysFrom18991230BothWaysBeyondTheTDateTimeRange) {
  struct Case {
    platform::CivilDate date;
    std::int64_t days;
  };
  const Case cases[] = {
      {{1899, 12, 30}, 0},    {{1900, 1, 1}, 2},          {{1900, 3, 1}, 61},
      {{1904, 1, 1}, 1462},   {{2000, 2, 29}, 36585},     {{2023, 3, 15}, 45000},
      {{1, 1, 1}, -693593},   {{9999, 12, 31}, 2958465},  {{0, 3, 1}, -693899},
      {{2400, 1, 1}, 182623}, {{100000, 1, 1}, 35830291}, {{-40000, 2, 29}, -15303600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.date.year) + "-" + std::to_string(c.date.month) + "-" +
                 std::to_string(c.date.day));
    EXPECT_EQ(platform::DaysFromCivil(c.date), c.days);
    const platform::CivilDate back = platform::CivilFromDays(c.days);
    EXPECT_EQ(back.year, c.date.year);
    EXPECT_EQ(back.month, c.date.month);
    EXPECT_EQ(back.day, c.date.day);
  }
}

TEST(EncodeTime, RangesAndFractions) {
  EXPECT_EQ(Time(6, 0, 0, 0), 0.25);
  EXPECT_EQ(Time(18, 0, 0, 0), 0.75);
  TDateTime v = 0;
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, v));
}

TEST(DecodeDateTime, RoundTripsEveryFewDaysOverTheWholeRange) {
  for (int day = -693593; day <= 2958465; day += 97) {
    int y, m, d, h, n, s, z;
    ASSERT_TRUE(TryDecodeDateTime(day, y, m, d, h, n, s, z)) << day;
    TDateTime back = 0;
    ASSERT_TRUE(TryEncodeDate(y, m, d, back)) << day;
    ASSERT_EQ(back, day);
  }
}

TEST(DecodeDateTime, TimeOfDayAndSpecialValues) {
  struct Case {
    const char* name;
    double value;
    bool ok;
    int y, m, d, h, n, s, z;
  } cases[] = {
      {"date and time", 37980 + 14.0 / 24 + 5.0 / 1440 + 9.25 / 86400, true, 2003, 12, 25, 14, 5, 9,
       250},
      {"time only", 0.75, true, 1899, 12, 30, 18, 0, 0, 0},
      {"negative: the fraction is the time of day", -1.25, true, 1899, 12, 29, 6, 0, 0, 0},
      {"a time that rounds to midnight moves on a day", 1.9999999999, true, 1900, 1, 1, 0, 0, 0, 0},
      {"before year 1", -693594.5, false, 0, 0, 0, 0, 0, 0, 0},
      {"after year 9999", 2958466.5, false, 0, 0, 0, 0, 0, 0, 0},
      {"NaN", std::numeric_limits<double>::quiet_NaN(), false, 0, 0, 0, 0, 0, 0, 0},
      {"infinity", std::numeric_limits<double>::infinity(), false, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, z = 0;
    ASSERT_EQ(TryDecodeDateTime(c.value, y, m, d, h, n, s, z), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(y, c.y);
    EXPECT_EQ(m, c.m);
    EXPECT_EQ(d, c.d);
    EXPECT_EQ(h, c.h);
    EXPECT_EQ(n, c.n);
    EXPECT_EQ(s, c.s);
    EXPECT_EQ(z, c.z);
  }
}

TEST(DayOfWeek, SundayIsOne) {
  EXPECT_EQ(DayOfWeek(0), 7);                   // 1899-12-30 was a Saturday
  EXPECT_EQ(DayOfWeek(Date(2003, 12, 25)), 5);  // Thursday
  EXPECT_EQ(DayOfWeek(Date(2024, 3, 3)), 1);    // Sunday
  EXPECT_EQ(DayOfWeek(-1), 6);
}

TEST(FormatDateTime, PatternsUnderBothLocales) {
  const TDateTime christmas = Date(2003, 12, 25) + Time(14, 5, 9, 250);
  const TDateTime morning = Date(2003, 3, 4) + Time(6, 7, 8, 9);
  struct Case {
    const char* name;
    const char* pattern;
    TDateTime value;
    const char* point;
    const char* comma;
  } cases[] = {
      {"short date", "ddddd", christmas, "12/25/2003", "25.12.2003"},
      {"short time", "t", christmas, "2:05 PM", "14:05"},
      {"short time of a pure time", "t", 0.25, "6:00 AM", "6:00"},
      {"long time", "tt", christmas, "2:05:09 PM", "14:05:09"},
      {"date and time", "c", christmas, "12/25/2003 2:05:09 PM", "25.12.2003 14:05:09"},
      {"date without time", "c", Date(2003, 12, 25), "12/25/2003", "25.12.2003"},
      {"c leaves out milliseconds alone", "c", Date(2003, 12, 25) + Time(0, 0, 0, 5), "12/25/2003",
       "25.12.2003"},
      {"c shows one second", "c", Date(2003, 12, 25) + Time(0, 0, 1, 0), "12/25/2003 12:00:01 AM",
       "25.12.2003 0:00:01"},
      {"empty pattern is c", "", Date(2003, 12, 25), "12/25/2003", "25.12.2003"},
      {"separators of the locale", "dd/mm/yyyy hh:nn", morning, "04/03/2003 06:07",
       "04.03.2003 06:07"},
      {"no padding", "d/m/yy h:n:s", morning, "4/3/03 6:7:8", "4.3.03 6:7:8"},
      {"m after h is minutes", "hh:mm", morning, "06:07", "06:07"},
      {"mm without h is the month", "mm", morning, "03", "03"},
      {"milliseconds", "s.zzz z", morning, "8.009 9", "8.009 9"},
      {"names", "ddd dddd mmm mmmm", christmas, "Thu Thursday Dec December",
       "Чт четверг дек Декабрь"},
      {"am/pm makes a 12-hour clock", "h am/pm", christmas, "2 pm", "2 pm"},
      {"A/P", "hh A/P", morning, "06 A", "06 A"},
      {"ampm uses the locale's strings", "h ampm", christmas, "2 PM", "2 "},
      {"midnight on a 12-hour clock", "h:nn AM/PM", Date(2003, 1, 1), "12:00 AM", "12:00 AM"},
      {"quoted literals", "'d:'d \"m/\"m", morning, "d:4 m/3", "d:4 m/3"},
      {"other characters copied", "yyyy-mm-dd", morning, "2003-03-04", "2003-03-04"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatDateTime(c.pattern, c.value, PointLocale()), c.point);
    EXPECT_EQ(FormatDateTime(c.pattern, c.value, CommaLocale()), c.comma);
  }
  EXPECT_EQ(FormatDateTime("c", std::numeric_limits<double>::quiet_NaN(), PointLocale()), "");
}

TEST(TryStrToDateTime, ShortFormatsOfEachLocale) {
  const TDateTime christmas = Date(2003, 12, 25);
  struct Case {
    const char* name;
    const char* point;
    const char* comma;
    bool ok;
    TDateTime value;
  } cases[] = {
      {"date", "12/25/2003", "25.12.2003", true, christmas},
      {"blanks around", "  12/25/2003 ", " 25.12.2003  ", true, christmas},
      {"no leading zeros", "1/2/2003", "2.1.2003", true, Date(2003, 1, 2)},
      {"date and time", "12/25/2003 14:05:09", "25.12.2003 14:05:09", true,
       christmas + Time(14, 5, 9, 0)},
      {"date and short time", "12/25/2003 14:05", "25.12.2003 14:05", true,
       christmas + Time(14, 5, 0, 0)},
      {"milliseconds", "12/25/2003 14:05:09.250", "25.12.2003 14:05:09,250", true,
       christmas + Time(14, 5, 9, 250)},
      {"PM", "12/25/2003 2:05 PM", "25.12.2003 2:05 PM", true, christmas + Time(14, 5, 0, 0)},
      {"12 AM is midnight", "12:00 AM", "12:00 AM", true, 0},
      {"time alone", "18:00", "18:00", true, 0.75},
      {"two-digit year", "12/25/03", "25.12.03", true, christmas},
      {"day 31 of February", "2/31/2003", "31.02.2003", false, 0},
      {"the other locale's order", "25/12/2003", "12.25.2003", false, 0},
      {"the other separator", "12.25.2003", "25/12/2003", false, 0},
      {"blanks after the separators", "12/ 25/ 2003", "25. 12. 2003", true, christmas},
      {"blanks before a separator", "12 /25/2003", "25 .12.2003", false, 0},
      {"separator at the end", "12/25/2003/", "25.12.2003.", false, 0},
      {"trailing text", "12/25/2003x", "25.12.2003x", false, 0},
      {"time without blank", "12/25/200314:05", "25.12.200314:05", false, 0},
      {"hour 25", "12/25/2003 25:00", "25.12.2003 25:00", false, 0},
      {"13 PM", "13:00 PM", "13:00 PM", false, 0},
      {"a number is no time", "12", "12", false, 0},
      {"empty", "", "", false, 0},
      {"blank", "   ", "   ", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDateTime v = -5;
    EXPECT_EQ(TryStrToDateTime(c.point, v, PointLocale()), c.ok);
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value);
    }
    v = -5;
    EXPECT_EQ(TryStrToDateTime(c.comma, v, CommaLocale()), c.ok);
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value);
    }
  }
}

// Two-digit years and dates without a year depend on the current year.
TEST(TryStrToDateTime, RelativeToTheCurrentYear) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  ASSERT_TRUE(TryDecodeDateTime(Now(), year, month, day, hour, minute, second, ms));
  const auto twoDigits = [](int y) {
    const std::string d = std::to_string(y % 100);
    return d.size() == 1 ? "0" + d : d;
  };
  struct Case {
    const char* name;
    std::string point;
    std::string comma;
    TDateTime value;
  } cases[] = {
      {"day and month take the current year", "12/25", "25.12", Date(year, 12, 25)},
      {"with blanks after the separator", "12/ 25", "25. 12", Date(year, 12, 25)},
      {"day and month with a time", "12/25 14:05", "25.12 14:05",
       Date(year, 12, 25) + Time(14, 5, 0, 0)},
      {"fifty years back is still past", "1/1/" + twoDigits(year - 50),
       "1.1." + twoDigits(year - 50), Date(year - 50, 1, 1)},
      {"fifty-one years back is the future", "1/1/" + twoDigits(year - 51),
       "1.1." + twoDigits(year - 51), Date(year + 49, 1, 1)},
      {"this year", "1/1/" + twoDigits(year), "1.1." + twoDigits(year), Date(year, 1, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDateTime v = -5;
    EXPECT_TRUE(TryStrToDateTime(c.point, v, PointLocale())) << c.point;
    EXPECT_DOUBLE_EQ(v, c.value);
    v = -5;
    EXPECT_TRUE(TryStrToDateTime(c.comma, v, CommaLocale())) << c.comma;
    EXPECT_DOUBLE_EQ(v, c.value);
  }
  TDateTime v = -5;
  EXPECT_FALSE(TryStrToDateTime("31.02", v, CommaLocale()));
}

TEST(TryStrToDateTime, ReadsWhatFormatDateTimeWrites) {
  const TDateTime v = Date(1987, 6, 5) + Time(4, 3, 2, 0);
  for (const TFormatSettings& fs : {PointLocale(), CommaLocale()}) {
    SCOPED_TRACE(fs.ShortDateFormat);
    TDateTime back = 0;
    ASSERT_TRUE(TryStrToDateTime(FormatDateTime("c", v, fs), back, fs));
    EXPECT_DOUBLE_EQ(back, v);
  }
}

TEST(LocalZone, StandardBiasAndClock) {
  {
    ScopedTimeZone tz("MSK-3");
    EXPECT_EQ(LocalZoneBiasMinutes(), -180);
    // Local time runs three hours ahead of UTC.
    EXPECT_NEAR((Now() - NowUtc()) * 24, 3.0, 0.01);
  }
  {
    ScopedTimeZone tz("EST5EDT");  // the standard offset, whatever the season
    EXPECT_EQ(LocalZoneBiasMinutes(), 300);
  }
  {
    ScopedTimeZone tz("UTC0");
    EXPECT_EQ(LocalZoneBiasMinutes(), 0);
  }
}
