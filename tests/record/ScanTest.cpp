// Line scanning: how a separated line becomes cells, which cell each field reads, how
// cells convert by type, and what ScanCount and CellPos say afterwards.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/DateTime.h"
#include "record/Znsrec.h"
#include "RecordTestSupport.h"

namespace {

using recordtest::CommaSettings;
using recordtest::PointSettings;
using recordtest::TextOf;
using Text = std::optional<std::string>;

void AddVarchars(TZnFFSRecord& rec) {
  for (const char* name : {"A", "B", "C"}) {
    rec.Add(name, "varchar", true, Variant::Null(), Variant::Null(), true);
  }
}

struct LineCase {
  const char* name;
  std::string line;
  char separator;
  bool result;
  Text a, b, c;
  int scanCount;
  int cellPos;
  std::vector<std::string> cells;
};

TEST(ScanLine, CellsAndCountersOfThreeTextFields) {
  const std::nullopt_t null = std::nullopt;
  const LineCase cases[] = {
      {"blanks and tabs only", " \t  \t", '\t', false, null, null, null, 0, 0, {}},
      {"empty line", "", '\t', false, null, null, null, 0, 0, {}},
      {"two tabs in a row", "x\t\ty", '\t', true, "x", null, "y", 2, 3, {"x", "", "y"}},
      {"one trailing tab", "x\ty\t", '\t', true, "x", "y", null, 2, 2, {"x", "y"}},
      {"two trailing tabs", "x\ty\t\t", '\t', true, "x", "y", null, 2, 3, {"x", "y", ""}},
      {"leading tab", "\tx", '\t', true, null, "x", null, 1, 2, {"", "x"}},
      {"surplus cell stays in Cells",
       "x\ty\tz\tw",
       '\t',
       true,
       "x",
       "y",
       "z",
       3,
       3,
       {"x", "y", "z", "w"}},
      {"varchar is trimmed", "  x \t y\t", '\t', true, "x", "y", null, 2, 2, {"  x ", " y"}},
      {"blank cell counts in CellPos",
       "x\t  \ty",
       '\t',
       true,
       "x",
       null,
       "y",
       2,
       3,
       {"x", "  ", "y"}},
      {"CR LF inside the line", "x\r\ny", '\t', true, "x", "y", null, 2, 2, {"x", "y"}},
      {"lone CR and lone LF", "x\ry\nz", '\t', true, "x", "y", "z", 3, 3, {"x", "y", "z"}},
      {"tab then CR LF", "x\t\r\ny", '\t', true, "x", null, "y", 2, 3, {"x", "", "y"}},
      {"trailing CR LF", "x\ty\r\n", '\t', true, "x", "y", null, 2, 2, {"x", "y"}},
      {"text after NUL ignored",
       std::string("x\ty\0\tz", 6),
       '\t',
       true,
       "x",
       "y",
       null,
       2,
       2,
       {"x", "y"}},
      {"NUL separator keeps tabs", "x\ty", '\0', true, "x\ty", null, null, 1, 1, {"x\ty"}},
      {"NUL separator splits at LF", "x\ty\nz", '\0', true, "x\ty", "z", null, 2, 2, {"x\ty", "z"}},
      {"semicolon separator", "a;b;;c", ';', true, "a", "b", null, 2, 3, {"a", "b", "", "c"}},
      {"CR as separator: CR LF is two breaks",
       "a\r\nb",
       '\r',
       true,
       "a",
       null,
       "b",
       2,
       3,
       {"a", "", "b"}},
      {"Cyrillic text",
       "Танк №1\tПрБ",
       '\t',
       true,
       "Танк №1",
       "ПрБ",
       null,
       2,
       2,
       {"Танк №1", "ПрБ"}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSRecord rec;
    AddVarchars(rec);
    // Values of an earlier scan must not survive.
    for (const auto& f : rec.Fields) f->SetAsString("stale");
    rec.Cells = {"stale", "stale", "stale", "stale", "stale"};

    EXPECT_EQ(rec.ScanString(c.line, c.separator), c.result);
    EXPECT_EQ(TextOf(rec.ByName("A")->Value), c.a);
    EXPECT_EQ(TextOf(rec.ByName("B")->Value), c.b);
    EXPECT_EQ(TextOf(rec.ByName("C")->Value), c.c);
    EXPECT_EQ(rec.ScanCount, c.scanCount);
    EXPECT_EQ(rec.CellPos, c.cellPos);
    EXPECT_EQ(rec.Cells, c.cells);
  }
}

TEST(ScanLine, MissingBlankAndBadCellsTakeTheDefaultValue) {
  TZnFFSRecord rec;
  rec.Add("Name", "varchar", true, Variant::Null(), Variant::String("-"), true);
  rec.Add("Count", "int", true, Variant::Null(), Variant::Integer(-1), true);
  rec.Add("Note", "char", true, Variant::Null(), Variant::String("none"), true);

  rec.ScanString("a\t12a", '\t');
  EXPECT_EQ(rec.ByName("Name")->Value, Variant::String("a"));
  EXPECT_EQ(rec.ByName("Count")->Value, Variant::Integer(-1));    // does not convert
  EXPECT_EQ(rec.ByName("Note")->Value, Variant::String("none"));  // missing
  EXPECT_EQ(rec.ScanCount, 1);

  EXPECT_FALSE(rec.ScanString("  ", '\t'));  // blank line: every default
  EXPECT_EQ(rec.ByName("Name")->Value, Variant::String("-"));
  EXPECT_EQ(rec.ByName("Count")->Value, Variant::Integer(-1));
  EXPECT_EQ(rec.ByName("Note")->Value, Variant::String("none"));
}

TEST(ScanLine, NoScanFieldsTakeNoCellAndKeepTheirValue) {
  TZnFFSRecord rec;
  AddVarchars(rec);
  rec.ByName("B")->NoScan = true;
  rec.ByName("B")->SetAsInteger(7);

  EXPECT_TRUE(rec.ScanString("x\ty", '\t'));
  EXPECT_EQ(rec.ByName("A")->Value, Variant::String("x"));
  EXPECT_EQ(rec.ByName("B")->Value, Variant::Integer(7));
  EXPECT_EQ(rec.ByName("C")->Value, Variant::String("y"));
  EXPECT_EQ(rec.ScanCount, 2);
  EXPECT_EQ(rec.CellPos, 2);

  EXPECT_FALSE(rec.ScanString("\t", '\t'));
  EXPECT_EQ(rec.ByName("B")->Value, Variant::Integer(7));
  EXPECT_TRUE(rec.ByName("A")->GetIsNull());
}

TEST(ScanLine, RecordWithoutFieldsOrWithoutScannedFields) {
  TZnFFSRecord empty;
  empty.Cells = {"old"};
  EXPECT_FALSE(empty.ScanString("x\ty", '\t'));
  EXPECT_TRUE(empty.Cells.empty());
  EXPECT_EQ(empty.ScanCount, 0);
  EXPECT_EQ(empty.CellPos, 0);

  TZnFFSRecord unscanned;
  AddVarchars(unscanned);
  for (const auto& f : unscanned.Fields) f->NoScan = true;
  EXPECT_TRUE(unscanned.ScanString("x\ty", '\t'));
  EXPECT_EQ(unscanned.ScanCount, 0);
  EXPECT_EQ(unscanned.CellPos, 0);
  EXPECT_EQ(unscanned.Cells, (std::vector<std::string>{"x", "y"}));
}

struct TypeCase {
  const char* name;
  const char* type;
  std::string cell;
  Variant expected;  // Null: the cell does not count and the default (Null) is taken
};

void RunTypeCases(const std::vector<TypeCase>& cases) {
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " as " + c.type);
    TZnFFSRecord rec;
    std::vector<znsrec::ScanFailure> failures;
    rec.failureSink = &failures;
    rec.Add("F", c.type, true, Variant::Null(), Variant::Null(), true);
    EXPECT_TRUE(rec.ScanString(c.cell, '\t'));
    EXPECT_EQ(rec.GetItem(0)->Value, c.expected);
    EXPECT_EQ(rec.ScanCount, c.expected.IsNull() ? 0 : 1);
    EXPECT_EQ(rec.CellPos, 1);
    // Every cell here holds text, so a cell that gave no value is a failed conversion.
    EXPECT_EQ(failures.size(), c.expected.IsNull() ? 1u : 0u);
  }
}

TEST(ScanTypes, TextAndIntegerCells) {
  RunTypeCases({
      {"blanks kept", "char", "  x ", Variant::String("  x ")},
      {"blanks trimmed", "varchar", "  x ", Variant::String("x")},
      {"integer with blanks", "int", " 12 ", Variant::Integer(12)},
      {"negative integer", "integer", "-7", Variant::Integer(-7)},
      {"integer with letters", "int", "12a", Variant::Null()},
      {"integer with a fraction", "int", "4.5", Variant::Null()},
      {"integer beyond 32 bits", "int", "3000000000", Variant::Null()},
  });
}

TEST(ScanTypes, TypeNameWrittenByOtherMeansTakesTheCellAsItStands) {
  TZnFFSRecord rec;
  TZnFFSField* f = rec.Add("F", "int", true, Variant::Null(), Variant::Null(), true);
  f->Type = "Integer";  // not canonical: compared exactly, so no integer conversion
  rec.ScanString(" 12 ", '\t');
  EXPECT_EQ(f->Value, Variant::String(" 12 "));
  EXPECT_EQ(rec.ScanCount, 1);
}

TEST(ScanTypes, FloatCellsReadEitherDecimalMarkUnderEitherLocale) {
  struct Locale {
    const char* name;
    TFormatSettings settings;
  };
  const Locale locales[] = {{"point locale", PointSettings()}, {"comma locale", CommaSettings()}};
  for (const Locale& locale : locales) {
    SCOPED_TRACE(locale.name);
    platform::ScopedFormatSettings fs(locale.settings);
    RunTypeCases({
        {"decimal comma", "flt", "3,5", Variant::Double(3.5)},
        {"decimal point", "flt", "3.5", Variant::Double(3.5)},
        {"blanks around", "float", " -0,25 ", Variant::Double(-0.25)},
        {"whole number", "double", "142", Variant::Double(142.0)},
        {"thousands and decimal mark", "flt", "1,234.5", Variant::Null()},
        {"decimal and thousands mark", "flt", "1.234,5", Variant::Null()},
        {"no number", "flt", "abc", Variant::Null()},
    });
  }
}

TEST(ScanTypes, DateTimeCellsByTheLocaleFormat) {
  platform::ScopedFormatSettings fs(CommaSettings());
  TDateTime christmas = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2003, 12, 25, christmas));
  RunTypeCases({
      {"short date", "datetime", " 25.12.2003 ", Variant::Date(christmas)},
      {"no date", "date", "someday", Variant::Null()},
  });
}

// The failure sink names the field and the cell of each conversion that failed; blank
// and missing cells are no failures, and each scan starts the list afresh.
TEST(ScanTypes, FailureSinkNamesFieldAndCellOfEachFailedConversion) {
  platform::ScopedFormatSettings fs(CommaSettings());
  TZnFFSRecord rec;
  rec.Add("Fixed", "int", false, Variant::Integer(7), Variant::Null(), true);
  rec.Add("Text", "str", true, Variant::Null(), Variant::Null(), true);
  rec.Add("Number", "flt", true, Variant::Null(), Variant::Null(), true);
  rec.Add("Count", "int", true, Variant::Null(), Variant::Null(), true);
  rec.Add("When", "datetime", true, Variant::Null(), Variant::Null(), true);
  rec.Add("More", "flt", true, Variant::Null(), Variant::Null(), true);
  std::vector<znsrec::ScanFailure> failures;
  rec.failureSink = &failures;

  rec.ScanString("abc\t12,5 м3\t \tsomeday", '\t');
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].field, 2);  // Number, after the unscanned Fixed
  EXPECT_EQ(failures[0].cell, 1);
  EXPECT_EQ(failures[1].field, 4);  // When; Count's cell is blank, More's is missing
  EXPECT_EQ(failures[1].cell, 3);
  EXPECT_EQ(rec.ScanCount, 1);

  rec.ScanString("abc\t1,5\t2", '\t');
  EXPECT_TRUE(failures.empty());
  rec.ScanString("x\t1.234,5\tzwei", '\t');
  EXPECT_EQ(failures.size(), 2u);
  rec.ScanString("  ", '\t');
  EXPECT_TRUE(failures.empty());
}

TEST(ScanTypes, OneFieldKeepsNoValueOfAnEarlierScan) {
  TZnFFSRecord rec;
  rec.Add("N", "flt", true, Variant::Null(), Variant::Null(), true);
  rec.Add("S", "str", true, Variant::Null(), Variant::Null(), true);
  rec.ScanString("1.5\tlong text that does not fit a short string", '\t');
  rec.ScanString("x\tshort", '\t');
  EXPECT_TRUE(rec.GetItem(0)->GetIsNull());
  EXPECT_EQ(rec.GetItem(1)->Value, Variant::String("short"));
}

// The import runs tell lines apart by ScanCount and Designation: no value or no
// Designation is skipped, exactly one value is a header naming the tank, more is data.
TEST(ScanImportLayout, ClassifiesBlankHeaderAndDataLines) {
  platform::ScopedFormatSettings fs(CommaSettings());
  TZnFFSRecord rec;
  recordtest::AddImportLayout(rec);
  enum Kind { Skipped, Header, Data };
  struct Case {
    const char* name;
    std::string line;
    Kind kind;
    int scanCount;
  };
  const Case cases[] = {
      {"blank line", "\t\t\t\t", Skipped, 0},
      {"header: only the first cell", "Цистерна топлива №1\t\t\t\t\t\t\t\t\t\t", Header, 1},
      {"only a later cell", "\t\t\t45", Skipped, 1},
      {"data line", "1\t\t45-52\tПрБ\t2\t12,5\t0.98", Data, 6},
      {"number columns that do not convert", "2\t\t\t\t\tnone\tn/a", Header, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rec.ScanString(c.line, '\t');
    EXPECT_EQ(rec.ScanCount, c.scanCount);
    Kind kind = Data;
    if (rec.ScanCount == 0 || rec.ByName("Designation")->GetIsNull()) {
      kind = Skipped;
    } else if (rec.ScanCount == 1) {
      kind = Header;
    }
    EXPECT_EQ(kind, c.kind);
  }
}

TEST(ScanImportLayout, FullLineFillsDesignationToDMAndLeavesUnreadFields) {
  platform::ScopedFormatSettings fs(PointSettings());
  TZnFFSRecord rec;
  recordtest::AddImportLayout(rec);
  rec.ByName("Tank")->SetAsString("T1");
  std::string line = "D1";
  for (int cell = 2; cell <= 22; ++cell) {
    line += '\t';
    line += std::to_string(cell);
  }

  EXPECT_TRUE(rec.ScanString(line, '\t'));
  EXPECT_EQ(rec.Cells.size(), 22u);
  EXPECT_EQ(rec.CellPos, 21);
  EXPECT_EQ(rec.ScanCount, 21);
  EXPECT_EQ(rec.ByName("Designation")->Value, Variant::String("D1"));
  EXPECT_EQ(rec.ByName("ColumnB")->Value, Variant::String("2"));
  EXPECT_EQ(rec.ByName("Volume")->Value, Variant::Double(6.0));
  EXPECT_EQ(rec.ByName("dM")->Value, Variant::Double(21.0));
  EXPECT_EQ(rec.ByName("Tank")->Value, Variant::String("T1"));
  EXPECT_EQ(rec.ByName("LPP")->Value, Variant::Integer(142));
  EXPECT_EQ(rec.ByName("Project")->Value, Variant::String("TOrva_1"));
}

}  // namespace
