#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "convert/Smallfun.h"
#include "platform/DateTime.h"
#include "TestSupport.h"

using testsupport::CommaLocale;
using testsupport::PointLocale;

namespace {

TDateTime At(int y, int m, int d, int h, int n, int s, int z) {
  TDateTime date = 0, time = 0;
  EXPECT_TRUE(platform::TryEncodeDate(y, m, d, date));
  EXPECT_TRUE(platform::TryEncodeTime(h, n, s, z, time));
  return date + time;
}

// Every test starts with the default dialect of a program that has not set it yet.
class SqlConstants : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = DefaultDataBaseTypeName;
    DefaultDataBaseTypeName.clear();
  }
  void TearDown() override { DefaultDataBaseTypeName = saved_; }

 private:
  std::string saved_;
};

}  // namespace

TEST_F(SqlConstants, ValuesThatDoNotDependOnTheDialect) {
  struct Case {
    const char* name;
    Variant value;
    const char* expected;
  } cases[] = {
      {"empty", Variant(), "NULL"},
      {"null", Variant::Null(), "NULL"},
      {"integer", Variant(7), "7"},
      {"negative integer", Variant(-2147483647 - 1), "-2147483648"},
      {"smallint", Variant::Smallint(-12), "-12"},
      {"double", Variant(1.5), "1.5000000"},
      {"negative double", Variant(-2.0), "-2.0000000"},
      {"rounded at the seventh decimal", Variant(3.14159265), "3.1415927"},
      {"exact half at the seventh decimal goes away from zero", Variant(0.00390625), "0.0039063"},
      {"negative value rounding to zero has no sign", Variant(-0.00000004), "0.0000000"},
      {"large value in fixed notation", Variant(1e20), "100000000000000000000.0000000"},
      {"single", Variant::Single(0.5f), "0.5000000"},
      {"currency", Variant::Currency(12.3456), "12.3456000"},
      {"true", Variant(true), "1"},
      {"false", Variant(false), "0"},
      {"byte", Variant::Byte(65), "'A'"},
      {"byte quote", Variant::Byte(39), "''''"},
      {"byte of a Cyrillic letter", Variant::Byte(0xC6), "'Ж'"},
      {"string trimmed and quotes doubled", Variant(" O'Brien "), "'O''Brien'"},
      {"empty string", Variant(""), "''"},
      {"Cyrillic string", Variant("Танк №1"), "'Танк №1'"},
      {"OLE string gives an empty literal", Variant::OleStr("text"), "''"},
      {"error", Variant::Error(1), "''"},
      {"array", Variant::Raw(varArray | varString), "''"},
      {"by reference", Variant::Raw(varByRef | varInteger), "''"},
      // No SQL number literal exists for these: they are no value.
      {"NaN", Variant(std::numeric_limits<double>::quiet_NaN()), "NULL"},
      {"infinity", Variant(std::numeric_limits<double>::infinity()), "NULL"},
  };
  for (const char* dialect : {"ACCESS", "ASA", "ORA"}) {
    for (const TFormatSettings& fs : {PointLocale(), CommaLocale()}) {
      platform::ScopedFormatSettings scope(fs);
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + dialect + " / decimal '" + fs.DecimalSeparator +
                     "'");
        EXPECT_EQ(VarToSQLConstant(c.value, Variant::Null(), "0.00", dialect), c.expected);
      }
    }
  }
}

TEST_F(SqlConstants, NullMarkerMatchesOnlySameTypeAndValue) {
  struct Case {
    const char* name;
    Variant value, marker;
    const char* expected;
  } cases[] = {
      {"integer 0 matches integer 0", Variant(0), Variant(0), "NULL"},
      {"double 0 does not match integer 0", Variant(0.0), Variant(0), "0.0000000"},
      {"string matches byte for byte", Variant("-"), Variant("-"), "NULL"},
      {"string with blanks does not match", Variant(" - "), Variant("-"), "'-'"},
      {"null marker disables the test", Variant(5), Variant::Null(), "5"},
      {"empty marker matches empty", Variant(), Variant(), "NULL"},
      {"date matches date", Variant::Date(1), Variant::Date(1), "NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VarToSQLConstant(c.value, c.marker, "", "ASA"), c.expected);
  }
}

TEST_F(SqlConstants, DateForms) {
  struct Case {
    const char* name;
    TDateTime value;
    const char* ora;
    const char* access;
    const char* asa;
  } cases[] = {
      {"date and time", At(2003, 12, 25, 14, 5, 9, 250),
       "To_Date('25.12.2003 14:05:09', 'dd.mm.yyyy hh24:mi:ss')", "#12/25/2003 14:05:09#",
       "'2003/12/25 14:05:09.250'"},
      {"date only", At(2003, 12, 25, 0, 0, 0, 0), "To_Date('25.12.2003', 'dd.mm.yyyy')",
       "#12/25/2003#", "'2003/12/25'"},
      {"time only", 0.75, "To_Date('18:00:00', 'hh24:mi:ss')", "#18:00:00#", "'18:00:00.000'"},
      {"noon", 0.5, "To_Date('12:00:00', 'hh24:mi:ss')", "#12:00:00#", "'12:00:00.000'"},
      {"only a millisecond", At(2003, 1, 2, 0, 0, 0, 1),
       "To_Date('02.01.2003 00:00:00', 'dd.mm.yyyy hh24:mi:ss')", "#01/02/2003 00:00:00#",
       "'2003/01/02 00:00:00.001'"},
      {"zero", 0.0, "NULL", "NULL", "NULL"},
      {"year 1", At(1, 1, 1, 0, 0, 0, 0), "To_Date('01.01.0001', 'dd.mm.yyyy')", "#01/01/0001#",
       "'0001/01/01'"},
      {"before 1899-12-30", -1.25, "To_Date('29.12.1899 06:00:00', 'dd.mm.yyyy hh24:mi:ss')",
       "#12/29/1899 06:00:00#", "'1899/12/29 06:00:00.000'"},
      {"a time that rounds to the next midnight", 0.99999999999,
       "To_Date('31.12.1899', 'dd.mm.yyyy')", "#12/31/1899#", "'1899/12/31'"},
      {"beyond year 9999", 1e7, "NULL", "NULL", "NULL"},
      {"NaN", std::numeric_limits<double>::quiet_NaN(), "NULL", "NULL", "NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DateTimeToSQLConstant(c.value, "ORA"), c.ora);
    EXPECT_EQ(DateTimeToSQLConstant(c.value, "ACCESS"), c.access);
    EXPECT_EQ(DateTimeToSQLConstant(c.value, "ASA"), c.asa);
    EXPECT_EQ(VarToSQLConstant(Variant::Date(c.value), Variant::Null(), "", "ACCESS"), c.access);
  }
}

TEST_F(SqlConstants, DialectChosenBySubstring) {
  const TDateTime noon = 0.5;
  struct Case {
    const char* name;
    const char* expected;
  } cases[] = {
      {" ora ", "To_Date('12:00:00', 'hh24:mi:ss')"},
      {"ORACLE", "To_Date('12:00:00', 'hh24:mi:ss')"},
      {"MyOra", "To_Date('12:00:00', 'hh24:mi:ss')"},
      {"ACCESS ORA", "To_Date('12:00:00', 'hh24:mi:ss')"},
      {"MSACCESS", "#12:00:00#"},
      {"access", "#12:00:00#"},
      {"ASA", "'12:00:00.000'"},
      {"SQLSERVER", "'12:00:00.000'"},
      {"", "'12:00:00.000'"},
      {"  ", "'12:00:00.000'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DateTimeToSQLConstant(noon, c.name), c.expected);
  }
}

TEST_F(SqlConstants, FirstNamedDialectBecomesTheDefault) {
  EXPECT_EQ(VarToSQLConstant(Variant(1), Variant::Null(), "", " ora "), "1");
  EXPECT_EQ(DefaultDataBaseTypeName, "ORA");
  // A blank name now uses the default for dates.
  EXPECT_EQ(VarToSQLConstant(Variant::Date(0.5), Variant::Null(), "", ""),
            "To_Date('12:00:00', 'hh24:mi:ss')");
  // A later name does not change the default.
  EXPECT_EQ(VarToSQLConstant(Variant::Date(0.5), Variant::Null(), "", "ACCESS"), "#12:00:00#");
  EXPECT_EQ(DefaultDataBaseTypeName, "ORA");
}

TEST_F(SqlConstants, BlankNameWithBlankDefaultMakesAsa) {
  DefaultDataBaseTypeName = "   ";
  EXPECT_EQ(VarToSQLConstant(Variant::Date(0.5), Variant::Null(), "", " "), "'12:00:00.000'");
  EXPECT_EQ(DefaultDataBaseTypeName, "ASA");
}

TEST_F(SqlConstants, WrappersNameTheirDialectAndSetTheDefault) {
  EXPECT_EQ(VarToORAConstant(Variant::Date(0.5), Variant::Null(), ""),
            "To_Date('12:00:00', 'hh24:mi:ss')");
  EXPECT_EQ(DefaultDataBaseTypeName, "ORA");
  EXPECT_EQ(VarToASAConstant(Variant::Date(0.5), Variant::Null(), ""), "'12:00:00.000'");
  EXPECT_EQ(VarToASAConstant(Variant(0), Variant(0), ""), "NULL");
  EXPECT_EQ(DefaultDataBaseTypeName, "ORA");
}

TEST_F(SqlConstants, SetDefaultIsKept) {
  DefaultDataBaseTypeName = "ACCESS";
  EXPECT_EQ(VarToSQLConstant(Variant::Date(0.5), Variant::Null(), "", ""), "#12:00:00#");
  EXPECT_EQ(VarToSQLConstant(Variant::Date(0.5), Variant::Null(), "", "ASA"), "'12:00:00.000'");
  EXPECT_EQ(DefaultDataBaseTypeName, "ACCESS");
}
