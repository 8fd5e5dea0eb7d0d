#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "convert/Smallfun.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "TestSupport.h"

using testsupport::CommaLocale;
using testsupport::PointLocale;

namespace {

TDateTime Date(int y, int m, int d) {
  TDateTime v = 0;
  EXPECT_TRUE(platform::TryEncodeDate(y, m, d, v));
  return v;
}

}  // namespace

TEST(VarTypeAsString, NamesEveryTypeWord) {
  struct Case {
    std::uint16_t type;
    const char* expected;
  } cases[] = {
      {0, "varEmpty"},
      {1, "varNull"},
      {2, "varSmallint"},
      {3, "varInteger"},
      {4, "varSingle"},
      {5, "varDouble"},
      {6, "varCurrency"},
      {7, "varDate"},
      {8, "varOleStr"},
      {9, "varDispatch"},
      {10, "varError"},
      {11, "varBoolean"},
      {12, "varVariant"},
      {13, "varUnknown"},
      {14, "var???"},
      {15, "var???"},
      {16, "varByte"},
      {17, "varByte"},
      {18, "var???"},
      {256, "varString"},
      {varArray | varInteger, "var???"},
      {varByRef | varString, "var???"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(VarTypeAsString(Variant::Raw(c.type)), c.expected);
  }
}

TEST(VarToString, UnderBothLocales) {
  const TDateTime christmas = Date(2003, 12, 25) + 14.0 / 24 + 5.0 / 1440;
  struct Case {
    const char* name;
    Variant value;
    const char* format;
    const char* point;
    const char* comma;
  } cases[] = {
      {"double, empty format", Variant(3.14159), "", "3.1415900", "3,1415900"},
      {"double, seven decimals", Variant(3.14159), "0.0000000", "3.1415900", "3,1415900"},
      {"double, two decimals", Variant(12.3456), "0.00", "12.35", "12,35"},
      {"double, whole", Variant(12.3456), "0", "12", "12"},
      {"negative double", Variant(-0.5), "", "-0.5000000", "-0,5000000"},
      {"1E18 and more: the general format, as under \"0.0000000\"", Variant(1e20), "", "1E20",
       "1E20"},
      {"single", Variant::Single(0.25f), "", "0.2500000", "0,2500000"},
      {"currency", Variant::Currency(1234.5678), "0.00", "1234.57", "1234,57"},
      {"integer", Variant(42), "", "42", "42"},
      {"integer ignores the format", Variant(-42), "0.00", "-42", "-42"},
      {"smallint", Variant::Smallint(-7), "", "-7", "-7"},
      {"date and time shows the date", Variant::Date(christmas), "", "12/25/2003", "25.12.2003"},
      {"pure time shows the time", Variant::Date(0.25), "", "6:00 AM", "6:00"},
      {"date with a format", Variant::Date(christmas), "yyyy-mm-dd hh:nn", "2003-12-25 14:05",
       "2003-12-25 14:05"},
      {"true", Variant(true), "", "Yes", "Yes"},
      {"false", Variant(false), "", "No", "No"},
      {"byte", Variant::Byte(65), "", "A", "A"},
      {"byte of a Cyrillic letter", Variant::Byte(0xC6), "", "Ж", "Ж"},
      {"negative short int reads as its byte", Variant::ShortInt(-1), "", "я", "я"},
      {"string unchanged", Variant("  x  "), "0.00", "  x  ", "  x  "},
      {"null", Variant::Null(), "", "", ""},
      {"empty", Variant(), "", "", ""},
      {"OLE string", Variant::OleStr("text"), "", "", ""},
      {"error", Variant::Error(5), "", "", ""},
      {"array", Variant::Raw(varArray | varDouble), "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      platform::ScopedFormatSettings fs(PointLocale());
      EXPECT_EQ(VarToString(c.value, c.format), c.point);
    }
    {
      platform::ScopedFormatSettings fs(CommaLocale());
      EXPECT_EQ(VarToString(c.value, c.format), c.comma);
    }
  }
}

TEST(VarToDouble, ConvertsOrRaises) {
  struct Case {
    const char* name;
    Variant value;
    double expected;
  } cases[] = {
      {"integer", Variant(12), 12},
      {"smallint", Variant::Smallint(-3), -3},
      {"double", Variant(2.5), 2.5},
      {"currency", Variant::Currency(1.25), 1.25},
      {"date counts days", Variant::Date(37980.5), 37980.5},
      {"true", Variant(true), 1},
      {"false", Variant(false), 0},
      {"byte", Variant::Byte(200), 200},
      {"negative short int reads as its byte", Variant::ShortInt(-1), 255},
      {"null", Variant::Null(), 0},
      {"empty", Variant(), 0},
      {"OLE string", Variant::OleStr("12"), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VarToDouble(c.value), c.expected);
  }
  {
    platform::ScopedFormatSettings fs(PointLocale());
    EXPECT_EQ(VarToDouble(Variant("12")), 12.0);
    EXPECT_EQ(VarToDouble(Variant("1.5")), 1.5);
  }
  {
    platform::ScopedFormatSettings fs(CommaLocale());
    EXPECT_EQ(VarToDouble(Variant("1,5")), 1.5);
  }
}

TEST(VarToDouble, TextThatIsNoNumberRaisesConvertError) {
  platform::ScopedFormatSettings fs(CommaLocale());
  for (const char* text : {"", "abc", "1.5", "nan", "inf", "0x10"}) {
    SCOPED_TRACE(text);
    try {
      VarToDouble(Variant(text));
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(text) + "' is not a valid floating point value");
    }
  }
}

TEST(VarValFromString, ByRequestedType) {
  struct Case {
    const char* name;
    const char* text;
    int type;
    Variant expected;
  } cases[] = {
      {"code 0, text kept untrimmed", " x ", 0, Variant(" x ")},
      {"code 0, blank text", "  ", 0, Variant::Null()},
      {"code 1, text", "x", 1, Variant("x")},
      {"integer with blanks", " 42 ", 3, Variant::Integer(42)},
      {"smallint request gives an integer", "-7", 2, Variant::Integer(-7)},
      {"integer from a decimal", "4.5", 3, Variant::Null()},
      {"integer from trailing letter", "12a", 3, Variant::Null()},
      {"integer empty", "", 3, Variant::Null()},
      {"integer too large", "2147483648", 3, Variant::Null()},
      {"boolean yes", "yes", 11, Variant::Boolean(true)},
      {"boolean TRUE", " TRUE ", 11, Variant::Boolean(true)},
      {"boolean 1", "1", 11, Variant::Boolean(true)},
      {"boolean 10 looks at the first character", "10", 11, Variant::Boolean(true)},
      {"boolean no", "no", 11, Variant::Boolean(false)},
      {"boolean false", "false", 11, Variant::Boolean(false)},
      {"boolean 0", "0", 11, Variant::Boolean(false)},
      {"boolean X", "X", 11, Variant::Null()},
      {"boolean empty", "", 11, Variant::Null()},
      {"boolean Cyrillic", "да", 11, Variant::Null()},
      {"byte A", "A", 17, Variant::Integer(65)},
      {"short int A", "AB", 16, Variant::Integer(65)},
      {"byte keeps blanks", " A", 17, Variant::Integer(32)},
      {"byte of a Cyrillic letter is its 1251 code", "Ж", 17, Variant::Integer(0xC6)},
      {"byte of a character without a 1251 code", "中", 17, Variant::Null()},
      {"byte empty", "", 17, Variant::Null()},
      {"string blank kept", "  ", 256, Variant("  ")},
      {"string empty kept", "", 256, Variant("")},
      {"code 12", "A", 12, Variant::Null()},
      {"code 8", "A", 8, Variant::Null()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VarValFromString(c.text, c.type), c.expected);
  }
}

TEST(VarValFromString, NumbersAndDatesByLocale) {
  const TDateTime christmas = Date(2003, 12, 25);
  struct Case {
    const char* name;
    int type;
    const char* point;
    const char* comma;
    Variant expected;
  } cases[] = {
      {"double", 5, " 3.5 ", " 3,5 ", Variant::Double(3.5)},
      {"single request gives a double", 4, "-0.25", "-0,25", Variant::Double(-0.25)},
      {"currency request gives a double", 6, "2", "2", Variant::Double(2)},
      {"the other separator", 5, "3,5", "3.5", Variant::Null()},
      {"nan", 5, "nan", "nan", Variant::Null()},
      {"inf", 5, "inf", "inf", Variant::Null()},
      {"hexadecimal", 5, "0x1A", "0x1A", Variant::Null()},
      {"double empty", 5, "", "", Variant::Null()},
      {"date", 7, "12/25/2003", "25.12.2003", Variant::Date(christmas)},
      {"date with blanks", 7, " 12/25/2003 ", " 25.12.2003 ", Variant::Date(christmas)},
      {"date and time", 7, "12/25/2003 6:00 AM", "25.12.2003 6:00",
       Variant::Date(christmas + 0.25)},
      {"no date", 7, "25.12.2003x", "12/25/2003", Variant::Null()},
      {"date empty", 7, "", "", Variant::Null()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      platform::ScopedFormatSettings fs(PointLocale());
      EXPECT_EQ(VarValFromString(c.point, c.type), c.expected);
    }
    {
      platform::ScopedFormatSettings fs(CommaLocale());
      EXPECT_EQ(VarValFromString(c.comma, c.type), c.expected);
    }
  }
}

TEST(VarIsEmpty, ByType) {
  struct Case {
    const char* name;
    Variant value;
    double emptyNumber;
    bool expected;
  } cases[] = {
      {"empty", Variant(), 0, true},
      {"null", Variant::Null(), 5, true},
      {"integer 0", Variant(0), 0, true},
      {"integer 0, empty number truncated", Variant(0), 0.9, true},
      {"integer -1, empty number -1.5 truncates to -1", Variant(-1), -1.5, true},
      {"integer 1", Variant(1), 0, false},
      {"integer, empty number beyond 32 bits", Variant(0), 1e12, false},
      {"integer, empty number NaN", Variant(0), std::numeric_limits<double>::quiet_NaN(), false},
      {"double 0 with empty number 0.9", Variant(0.0), 0.9, false},
      {"double equal to the empty number", Variant(0.9), 0.9, true},
      {"double 0", Variant(0.0), 0, true},
      {"currency 0", Variant::Currency(0), 0, true},
      {"date 0 whatever the empty number", Variant::Date(0), 5, true},
      {"date not 0", Variant::Date(0.5), 0.5, false},
      {"false", Variant(false), 0, true},
      {"true", Variant(true), 0, false},
      {"byte space", Variant::Byte(32), 0, true},
      {"byte letter", Variant::Byte(65), 0, false},
      {"string of spaces", Variant("   "), 0, true},
      {"string", Variant(" x "), 0, false},
      {"OLE string", Variant::OleStr("x"), 0, true},
      {"array", Variant::Raw(varArray | varInteger), 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VarIsEmpty(c.value, c.emptyNumber), c.expected);
  }
}

TEST(AnsisToDef, ParseOrDefault) {
  platform::ScopedFormatSettings fs(CommaLocale());
  EXPECT_EQ(AnsisToDoubleDef("2,5", -1), 2.5);
  EXPECT_EQ(AnsisToDoubleDef("2.5", -1), -1);
  EXPECT_EQ(AnsisToDoubleDef("", -1), -1);
  EXPECT_EQ(AnsisToDoubleDef("nan", -1), -1);
  EXPECT_EQ(AnsisToDateTimeDef("   ", 7), 7);
  EXPECT_EQ(AnsisToDateTimeDef(" 25.12.2003 ", 7), Date(2003, 12, 25));
  EXPECT_EQ(AnsisToDateTimeDef("31.02.2003", 7), 7);
}
