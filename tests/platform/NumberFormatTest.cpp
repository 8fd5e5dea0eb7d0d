#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/NumberFormat.h"
#include "TestSupport.h"

using namespace platform;
using testsupport::CommaLocale;
using testsupport::PointLocale;

TEST(TryStrToInt, DecimalAndHexadecimalIntegersOf32Bits) {
  using namespace std::string_view_literals;
  struct Case {
    const char* name;
    std::string_view input;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"plain", "42", true, 42},
      {"negative", "-42", true, -42},
      {"plus sign", "+7", true, 7},
      {"leading zeros", "007", true, 7},
      {"largest", "2147483647", true, 2147483647},
      {"smallest", "-2147483648", true, -2147483647 - 1},
      {"one past the largest", "2147483648", false, 0},
      {"one past the smallest", "-2147483649", false, 0},
      {"32 bits unsigned is refused in decimal", "4294967295", false, 0},
      {"twenty digits", "99999999999999999999", false, 0},
      {"empty", "", false, 0},
      {"sign only", "-", false, 0},
      {"leading blank skipped", " 1", true, 1},
      {"leading tab and blanks skipped", "\t  -5", true, -5},
      {"trailing blank", "1 ", false, 0},
      {"blank after the sign", "- 1", false, 0},
      {"letter after digits", "12a", false, 0},
      {"decimals", "4.5", false, 0},
      {"exponent", "1e3", false, 0},
      {"hexadecimal after $", "$1F", true, 31},
      {"hexadecimal after 0x", "0x1F", true, 31},
      {"hexadecimal after x", "x1F", true, 31},
      {"capital X, small digits", "0X1f", true, 31},
      {"hexadecimal after a blank", " $10", true, 16},
      {"negative hexadecimal", "-$10", true, -16},
      {"eight hex digits wrap", "$FFFFFFFF", true, -1},
      {"top bit set", "$80000000", true, -2147483647 - 1},
      {"leading hex zeros do not count", "$000000001", true, 1},
      {"nine hex digits", "$100000000", false, 0},
      {"$ without digits", "$", false, 0},
      {"0x without digits", "0x", false, 0},
      {"no hex digit", "$1G", false, 0},
      {"NUL ends the text", "12\0xy"sv, true, 12},
      {"NUL before any digit",
       "\0"
       "12"sv,
       false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int32_t v = -1;
    EXPECT_EQ(TryStrToInt(c.input, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

TEST(TryStrToFloat, ByDecimalSeparatorOfEachLocale) {
  struct Case {
    const char* name;
    const char* point;  // the text under the "." locale
    const char* comma;  // the same number under the "," locale
    bool ok;
    double value;
  } cases[] = {
      {"three and a half", "3.5", "3,5", true, 3.5},
      {"negative", "-0.25", "-0,25", true, -0.25},
      {"plus sign", "+2", "+2", true, 2},
      {"blanks around", " \t2.5 ", " \t2,5 ", true, 2.5},
      {"leading separator", ".5", ",5", true, 0.5},
      {"trailing separator", "5.", "5,", true, 5},
      {"exponent", "-1.5e3", "-1,5e3", true, -1500},
      {"exponent with sign", "1E+2", "1E+2", true, 100},
      {"negative exponent", "25e-2", "25e-2", true, 0.25},
      {"the other separator", "3,5", "3.5", false, 0},
      {"thousands and decimals", "1,234.5", "1.234,5", false, 0},
      {"two separators", "1.2.3", "1,2,3", false, 0},
      {"empty", "", "", false, 0},
      {"blank", "  ", "  ", false, 0},
      {"sign only", "-", "-", false, 0},
      {"separator only", ".", ",", false, 0},
      {"exponent without digits", "1e", "1e", false, 0},
      {"exponent without mantissa", "e5", "e5", false, 0},
      {"two signs", "+-1", "+-1", false, 0},
      {"inner blank", "1 000", "1 000", false, 0},
      {"nan", "nan", "nan", false, 0},
      {"NAN", "NAN", "NAN", false, 0},
      {"inf", "inf", "inf", false, 0},
      {"Infinity", "-Infinity", "-Infinity", false, 0},
      {"hexadecimal float", "0x1p3", "0x1p3", false, 0},
      {"hexadecimal integer", "0x10", "0x10", false, 0},
      {"overflow", "1e400", "1e400", false, 0},
      {"trailing letter", "12a", "12a", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double v = -7;
    EXPECT_EQ(TryStrToFloat(c.point, v, PointLocale()), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
    v = -7;
    EXPECT_EQ(TryStrToFloat(c.comma, v, CommaLocale()), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

TEST(TryStrToFloat, ReadsTheNearestDouble) {
  double v = 0;
  ASSERT_TRUE(TryStrToFloat("0.1", v, PointLocale()));
  EXPECT_EQ(v, 0.1);
  ASSERT_TRUE(TryStrToFloat("123456789,123456789", v, CommaLocale()));
  EXPECT_EQ(v, 123456789.123456789);
  // Longer than any stack buffer of the parser.
  const std::string longText = "1." + std::string(300, '0') + "1";
  ASSERT_TRUE(TryStrToFloat(longText, v, PointLocale()));
  EXPECT_EQ(v, 1.0);
}

TEST(FormatFloat, PatternsUnderBothLocales) {
  struct Case {
    const char* name;
    const char* pattern;
    double value;
    const char* point;
    const char* comma;
  } cases[] = {
      {"seven decimals", "0.0000000", 3.14159, "3.1415900", "3,1415900"},
      {"two decimals round up", "0.00", 12.3456, "12.35", "12,35"},
      {"whole number", "0", 12.3456, "12", "12"},
      {"negative", "0.00", -1.5, "-1.50", "-1,50"},
      {"leading zero kept", "0.00", 0.5, "0.50", "0,50"},
      {"no integer placeholder zero", "#.00", 0.5, ".50", ",50"},
      {"optional decimals dropped", "0.##", 1.0, "1", "1"},
      {"optional decimals kept", "0.0#", 1.25, "1.25", "1,25"},
      {"optional decimals trimmed", "0.0#", 1.2, "1.2", "1,2"},
      {"minimum integer digits", "000", 7, "007", "007"},
      {"grouping", "#,##0.00", 1234567.891, "1,234,567.89", "1\u00A0234\u00A0567,89"},
      {"grouping small number", "#,##0", 999, "999", "999"},
      {"quoted literal", "0.0' m'", 2.25, "2.3 m", "2,3 m"},
      {"double-quoted placeholder", "\"#\"0", 5, "#5", "#5"},
      {"plain literal", "0.00 t", 2, "2.00 t", "2,00 t"},
      {"scientific", "0.00E+00", 12345.678, "1.23E+04", "1,23E+04"},
      {"scientific negative exponent", "0.0E-0", 0.00012, "1.2E-4", "1,2E-4"},
      {"negative section", "0.00;(0.00)", -2.5, "(2.50)", "(2,50)"},
      {"positive with sections", "0.00;(0.00);zero", 2.5, "2.50", "2,50"},
      {"zero section", "0.00;(0.00);zero", 0, "zero", "zero"},
      {"empty negative section", "0.0;;z", -1, "-1.0", "-1,0"},
      {"1E18 and more in the general format", "0.0000000", 1e20, "1E20", "1E20"},
      {"from 1E18 on", "#,##0.00", 1e18, "1E18", "1E18"},
      {"just below 1E18 still fixed", "0", 999999999999999872.0, "999999999999999872",
       "999999999999999872"},
      {"general format of a negative section", "0.00;(0.00)", -1.5e18, "-1.5E18", "-1,5E18"},
      {"a scientific pattern keeps large values", "0.0E+0", 1e20, "1.0E+20", "1,0E+20"},
      {"scientific zero", "#.###E-0", 0, "0E0", "0E0"},
      {"scientific rounds half away", "#.###E-0", 1234.5, "1.235E3", "1,235E3"},
      {"scientific carry into the exponent", "0.00E+00", 9.999, "1.00E+01", "1,00E+01"},
      {"empty pattern is general", "", 0.1, "0.1", "0,1"},
      {"general exponent without plus", "", 1e15, "1E15", "1E15"},
      {"general negative exponent", "", 1e-8, "1E-8", "1E-8"},
      {"general with fifteen digits", "", 1234567890123456.0, "1.23456789012346E15",
       "1,23456789012346E15"},
      {"more decimals than a double holds", "0.00000000000000000000000000000000000000000000000000",
       0.5, "0.5000000000000000000000000000000000000000",
       "0,5000000000000000000000000000000000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatFloat(c.pattern, c.value, PointLocale()), c.point);
    EXPECT_EQ(FormatFloat(c.pattern, c.value, CommaLocale()), c.comma);
  }
}

TEST(FormatFloat, RoundsEighteenDigitsAndHalvesAwayFromZero) {
  struct Case {
    const char* name;
    const char* pattern;
    double value;
    const char* expected;
  } cases[] = {
      {"exact half up", "0", 2.5, "3"},
      {"exact half of a negative", "0", -2.5, "-3"},
      {"exact half, odd neighbour", "0", 3.5, "4"},
      {"exact half carries", "0", 99.5, "100"},
      {"exact half at two decimals", "0.00", 0.125, "0.13"},
      {"exact half at seven decimals", "0.0000000", 0.00390625, "0.0039063"},
      {"a hair below a half in binary", "0.00", 1000.005, "1000.01"},
      {"1.115 is 1.11499999999999999 in 18 digits", "0.00", 1.115, "1.11"},
      {"0.995 is 0.994999999999999996 in 18 digits", "0.00", 0.995, "0.99"},
      {"1.005 is 1.00499999999999989 in 18 digits", "0.00", 1.005, "1.00"},
      {"a negative hair below a half", "0.00", -1000.005, "-1000.01"},
      {"18 digits at many decimals", "0.000000000000000000000", 0.1, "0.100000000000000006000"},
      {"just above a half in binary", "0.00", 2.345, "2.35"},
      {"0.95 lies below", "0.0", 0.95, "0.9"},
      {"carry into a new digit", "0.00", 9.999, "10.00"},
      {"negative rounding to zero has no sign", "0.00", -0.001, "0.00"},
      {"negative zero", "0.0000000", -0.0, "0.0000000"},
      {"smallest denormal", "0.0000000", 4.9406564584124654e-324, "0.0000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatFloat(c.pattern, c.value, PointLocale()), c.expected);
  }
}

TEST(FormatFloat, VeryLongScientificPatternStaysWithinItsBuffer) {
  const std::string pattern = "0." + std::string(200, '0') + "E+00";
  const std::string text = FormatFloat(pattern, 12345.678, PointLocale());
  EXPECT_EQ(text.substr(0, 8), "1.234567");
  EXPECT_EQ(text.substr(text.size() - 4), "E+04");
}

TEST(FormatFloat, NotFiniteValues) {
  EXPECT_EQ(FormatFloat("0.00", std::numeric_limits<double>::quiet_NaN(), PointLocale()), "NAN");
  EXPECT_EQ(FormatFloat("0.00", std::numeric_limits<double>::infinity(), PointLocale()), "INF");
  EXPECT_EQ(FormatFloat("0.00", -std::numeric_limits<double>::infinity(), PointLocale()), "-INF");
}

TEST(FormatFixed, WritesIntoTheBufferOrRefuses) {
  char buf[32];
  char* end = FormatFixed(buf, buf + sizeof buf, -1234.5, 7, ',');
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(std::string(buf, end), "-1234,5000000");
  end = FormatFixed(buf, buf + sizeof buf, 0.5, 0, '.');
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(std::string(buf, end), "1");
  char small[5];
  EXPECT_EQ(FormatFixed(small, small + sizeof small, 12.5, 7, '.'), nullptr);
}

// The same 15 significant digits in both general formats; only the exponent differs:
// the run-time library's FloatToStr has no plus sign or leading zeros, the spreadsheet's
// FloatToStrGeneral has both. Under the "," locale only the separator changes.
TEST(FloatToStr, GeneralFormatsOfTheRunTimeLibraryAndTheSpreadsheet) {
  struct Case {
    const char* name;
    double value;
    const char* runTimeLibrary;  // under the "." locale
    const char* spreadsheet;
  } cases[] = {
      {"zero", 0, "0", "0"},
      {"tenth", 0.1, "0.1", "0.1"},
      {"sum with binary noise", 0.1 + 0.2, "0.3", "0.3"},
      {"negative", -12.5, "-12.5", "-12.5"},
      {"largest fixed", 999999999999999.0, "999999999999999", "999999999999999"},
      {"1E15", 1e15, "1E15", "1E+15"},
      {"fifteen digits of sixteen", -1234567890123456.0, "-1.23456789012346E15",
       "-1.23456789012346E+15"},
      {"large", 1e20, "1E20", "1E+20"},
      {"smallest fixed", 0.0001, "0.0001", "0.0001"},
      {"small", 1e-8, "1E-8", "1E-08"},
      {"three-digit exponent", -2.5e-300, "-2.5E-300", "-2.5E-300"},
  };
  const auto withComma = [](std::string text) {
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FloatToStr(c.value, PointLocale()), c.runTimeLibrary);
    EXPECT_EQ(FloatToStr(c.value, CommaLocale()), withComma(c.runTimeLibrary));
    EXPECT_EQ(FloatToStrGeneral(c.value, PointLocale()), c.spreadsheet);
    EXPECT_EQ(FloatToStrGeneral(c.value, CommaLocale()), withComma(c.spreadsheet));
  }
  EXPECT_EQ(IntToStr(-9007199254740993LL), "-9007199254740993");
}
