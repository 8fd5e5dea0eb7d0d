#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/NumberFormat.h"
#include "TestSupport.h"

using namespace platform;
using testsupport::CommaLocale;
using testsupport::PointLocale;

TEST(TryStrToInt, DecimalIntegersOf32Bits) {
  struct Case {
    const char* input;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"42", true, 42},
      {"-42", true, -42},
      {"+7", true, 7},
      {"007", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"12a", false, 0},
      {"4.5", false, 0},
      {"0x10", false, 0},
      {"1e3", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
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
      {"huge value in fixed notation", "0.0000000", 1e20, "100000000000000000000.0000000",
       "100000000000000000000,0000000"},
      {"empty pattern is general", "", 0.1, "0.1", "0,1"},
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

TEST(FormatFloat, RoundsTheExactValueAndHalvesAwayFromZero) {
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
      {"just below a half in binary", "0.00", 1.005, "1.00"},
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

TEST(FloatToStrGeneral, ShortestWithFifteenDigits) {
  struct Case {
    const char* name;
    double value;
    const char* point;
    const char* comma;
  } cases[] = {
      {"zero", 0, "0", "0"},
      {"tenth", 0.1, "0.1", "0,1"},
      {"sum with binary noise", 0.1 + 0.2, "0.3", "0,3"},
      {"negative", -12.5, "-12.5", "-12,5"},
      {"whole", 42, "42", "42"},
      {"large", 1e20, "1E+20", "1E+20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FloatToStrGeneral(c.value, PointLocale()), c.point);
    EXPECT_EQ(FloatToStrGeneral(c.value, CommaLocale()), c.comma);
  }
  EXPECT_EQ(IntToStr(-9007199254740993LL), "-9007199254740993");
}
