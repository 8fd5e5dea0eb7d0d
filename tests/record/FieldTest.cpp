// TZnFFSField: canonical type names, defaults, copying, setters and conversions.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "record/Znsrec.h"
#include "RecordTestSupport.h"

namespace {

using recordtest::CommaSettings;
using recordtest::PointSettings;
using recordtest::ScopedDialect;

TEST(FieldType, CanonicalNameByPrefixOfTrimmedLowerCasedText) {
  struct Case {
    const char* input;
    const char* expected;
  };
  const Case cases[] = {
      {"char", "char"},
      {"Char(20)", "char"},
      {"varchar", "varchar"},
      {"VarChar(50)", "varchar"},
      {"String", "varchar"},
      {"str", "varchar"},
      {"  STR  ", "varchar"},
      {"\tstring\n", "varchar"},
      {"Int64", "integer"},
      {"Integer", "integer"},
      {"int", "integer"},
      {"float", "float"},
      {"flt", "float"},
      {"Double", "float"},
      {"dbl", "float"},
      {"Real", "float"},
      {"TimeStamp", "datetime"},
      {"DateTime", "datetime"},
      {"date", "datetime"},
      {"Smallint", "char"},
      {"Largeint", "char"},
      {"Currency", "char"},
      {"Memo", "char"},
      {"Number", "char"},
      {"", "char"},
      {"   ", "char"},
      {"Строка", "char"},
      {"x int", "char"},
      {"floating point", "float"},
      {"varc", "varchar"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("type text '") + c.input + "'");
    TZnFFSField field;
    field.Type = "float";  // whatever was there before is replaced
    field.SetType(c.input);
    EXPECT_EQ(field.Type, c.expected);
  }
}

void ExpectDefaults(const TZnFFSField& f) {
  EXPECT_EQ(f.Type, "char");
  EXPECT_EQ(f.Name, "");
  EXPECT_EQ(f.Format, "");
  EXPECT_EQ(f.Value.VType(), varNull);
  EXPECT_EQ(f.DefValue.VType(), varNull);
  EXPECT_EQ(f.Tag1, 0);
  EXPECT_EQ(f.Tag2, 0);
  EXPECT_FALSE(f.NoScan);
  EXPECT_FALSE(f.NoStore);
  EXPECT_TRUE(f.GetIsNull());
  EXPECT_EQ(f.GetAsSQLConstant(), "NULL");
}

TZnFFSField FilledField() {
  TZnFFSField f;
  f.Name = "Volume";
  f.SetType("flt");
  f.SetAsFloat(12.5);
  f.Format = "0.00";
  f.Tag1 = 7;
  f.Tag2 = -3;
  f.DefValue = Variant::Integer(1);
  f.NoScan = true;
  f.NoStore = true;
  return f;
}

TEST(FieldDefaults, NewFieldAndSetDFGiveTheDefaults) {
  ScopedDialect dialect("ACCESS");
  {
    SCOPED_TRACE("new field");
    ExpectDefaults(TZnFFSField());
  }
  {
    SCOPED_TRACE("filled field after SetDF");
    TZnFFSField f = FilledField();
    f.SetDF();
    ExpectDefaults(f);
  }
  {
    SCOPED_TRACE("constructed from a null source");
    ExpectDefaults(TZnFFSField(static_cast<const TZnFFSField*>(nullptr)));
  }
}

void ExpectSameAttributes(const TZnFFSField& a, const TZnFFSField& b) {
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.Type, b.Type);
  EXPECT_EQ(a.Value, b.Value);
  EXPECT_EQ(a.Format, b.Format);
  EXPECT_EQ(a.Tag1, b.Tag1);
  EXPECT_EQ(a.Tag2, b.Tag2);
  EXPECT_EQ(a.DefValue, b.DefValue);
  EXPECT_EQ(a.NoScan, b.NoScan);
  EXPECT_EQ(a.NoStore, b.NoStore);
}

TEST(FieldAssign, CopiesEveryAttributeIndependently) {
  TZnFFSField source = FilledField();
  source.SetAsString("a text longer than the short-string buffer");
  TZnFFSField copy;
  copy.Assign(&source);
  ExpectSameAttributes(copy, source);

  TZnFFSField constructed(&source);
  ExpectSameAttributes(constructed, source);

  source.Value.MutableText() = "changed";
  source.Name = "Other";
  EXPECT_EQ(copy.Value.Text(), "a text longer than the short-string buffer");
  EXPECT_EQ(copy.Name, "Volume");
}

TEST(FieldAssign, TypeWrittenByOtherMeansIsCanonicalisedOnCopy) {
  TZnFFSField source;
  source.Type = "String";
  TZnFFSField copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.Type, "varchar");
}

TEST(FieldAssign, NullSourceResetsAndSelfAssignmentKeeps) {
  TZnFFSField f = FilledField();
  f.Assign(&f);
  ExpectSameAttributes(f, FilledField());

  f.Assign(nullptr);
  ScopedDialect dialect("ACCESS");
  ExpectDefaults(f);
}

TEST(FieldSetters, SetTheVariantTypeAndLeaveTheTypeName) {
  TZnFFSField f;
  f.SetType("datetime");
  f.SetAsString("abc");
  EXPECT_EQ(f.Value, Variant::String("abc"));
  f.SetAsInteger(-5);
  EXPECT_EQ(f.Value, Variant::Integer(-5));
  f.SetAsFloat(2.25);
  EXPECT_EQ(f.Value, Variant::Double(2.25));
  f.SetAsDateTime(45444.5);
  EXPECT_EQ(f.Value, Variant::Date(45444.5));
  EXPECT_EQ(f.Type, "datetime");
}

TEST(FieldPredicates, NullAndEmpty) {
  struct Case {
    const char* name;
    Variant value;
    bool isNull;
    bool isEmpty;
  };
  const Case cases[] = {
      {"Empty", Variant::Empty(), true, true},
      {"Null", Variant::Null(), true, true},
      {"empty string", Variant::String(""), false, true},
      {"blank string", Variant::String(" \t "), false, true},
      {"text", Variant::String("x"), false, false},
      {"integer zero", Variant::Integer(0), false, true},
      {"integer", Variant::Integer(3), false, false},
      {"double zero", Variant::Double(0.0), false, true},
      {"double", Variant::Double(0.5), false, false},
      {"zero date", Variant::Date(0.0), false, true},
      {"date", Variant::Date(45444.0), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSField f;
    f.Value = c.value;
    EXPECT_EQ(f.GetIsNull(), c.isNull);
    EXPECT_EQ(f.GetIsEmpty(), c.isEmpty);
  }
}

TEST(FieldNumbers, IntegerTruncatesTowardZeroAndSaturates) {
  struct Case {
    const char* name;
    Variant value;
    int expected;
  };
  const Case cases[] = {
      {"2.9", Variant::Double(2.9), 2},
      {"-2.9", Variant::Double(-2.9), -2},
      {"integer", Variant::Integer(42), 42},
      {"numeric text", Variant::String("7"), 7},
      {"Null", Variant::Null(), 0},
      {"above the 32-bit range", Variant::Double(1e12), INT_MAX},
      {"below the 32-bit range", Variant::Double(-1e12), INT_MIN},
      {"largest int", Variant::Double(2147483647.0), INT_MAX},
      {"smallest int", Variant::Double(-2147483648.0), INT_MIN},
      {"infinity", Variant::Double(std::numeric_limits<double>::infinity()), INT_MAX},
      {"NaN", Variant::Double(std::nan("")), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSField f;
    f.Value = c.value;
    EXPECT_EQ(f.GetAsInteger(), c.expected);
  }
}

TEST(FieldNumbers, TextThatIsNoNumberRaises) {
  TZnFFSField f;
  f.SetAsString("12a");
  EXPECT_THROW(f.GetAsFloat(), EConvertError);
  EXPECT_THROW(f.GetAsInteger(), EConvertError);
  f.SetAsString("12.5");
  EXPECT_EQ(f.GetAsFloat(), 12.5);
}

TEST(FieldText, RendersByFormatWithTheLocaleSeparator) {
  TZnFFSField f;
  f.SetAsFloat(12.3456);
  f.Format = "0.00";
  {
    platform::ScopedFormatSettings fs(PointSettings());
    EXPECT_EQ(f.GetAsString(), "12.35");
  }
  {
    platform::ScopedFormatSettings fs(CommaSettings());
    EXPECT_EQ(f.GetAsString(), "12,35");
  }
}

TEST(FieldDateTime, ReadsTheTextFormThenTheNumber) {
  platform::ScopedFormatSettings fs(CommaSettings());
  TDateTime christmas = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2003, 12, 25, christmas));

  TZnFFSField f;
  f.SetAsString("25.12.2003");
  EXPECT_EQ(f.GetAsDateTime(), christmas);

  f.SetAsDateTime(christmas);
  EXPECT_EQ(f.GetAsDateTime(), christmas);

  f.SetAsFloat(45444.5);  // the text form is no date: the number is taken
  EXPECT_EQ(f.GetAsDateTime(), 45444.5);

  f.SetAsString("   ");  // blank: 0 without reading it as a number, which would raise
  EXPECT_EQ(f.GetAsDateTime(), 0.0);
  f.Value = Variant::Null();
  EXPECT_EQ(f.GetAsDateTime(), 0.0);

  f.SetAsString("no date");
  EXPECT_THROW(f.GetAsDateTime(), EConvertError);
}

TEST(FieldSQLConstant, RendersByTheProcessDialectIgnoringTheFormat) {
  ScopedDialect dialect("ACCESS");
  platform::ScopedFormatSettings fs(CommaSettings());
  TDateTime christmas = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2003, 12, 25, christmas));
  struct Case {
    const char* name;
    Variant value;
    const char* format;
    const char* expected;
  };
  const Case cases[] = {
      {"Null", Variant::Null(), "", "NULL"},
      {"Empty", Variant::Empty(), "", "NULL"},
      {"text trimmed, quote doubled", Variant::String(" O'Brien "), "", "'O''Brien'"},
      {"empty text", Variant::String(""), "", "''"},
      {"double with a point under a comma locale", Variant::Double(12.5), "0.00", "12.5000000"},
      {"integer", Variant::Integer(142), "0", "142"},
      {"date", Variant::Date(christmas), "", "#12/25/2003#"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSField f;
    f.Value = c.value;
    f.Format = c.format;
    EXPECT_EQ(f.GetAsSQLConstant(), c.expected);
  }
}

}  // namespace
