// The .ods reader on spreadsheets of our own making (one behaviour each, written by
// tests/sheet/data/ods/make_fixtures.py) and on real OpenDocument spreadsheets.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sheet/Workbook.h"
#include "tests/sheet/CellTestSupport.h"
#include "sheet/XmlTagScanner.h"
#include "sheet/XmlText.h"
#include "sheet/ZipArchive.h"

namespace {

using cell_test::CollectingSink;
using cell_test::ExpectCells;
using sheet::Cell;

std::string DataFile(const std::string& name) {
  return std::string(TANKLOAD_SOURCE_DIR) + "/tests/sheet/data/ods/" + name;
}

std::string RealFile(const std::string& name) {
  return std::string(TANKLOAD_SHARED_FIXTURES) + "/workbooks/" + name;
}

CollectingSink ReadSheet(const std::string& path, std::size_t index = 0,
                         const sheet::ReaderLimits& limits = {}) {
  return cell_test::ReadSheetWith(
      [](const std::string& p, const sheet::ReaderLimits& l) { return sheet::OpenOds(p, l); }, path,
      index, limits);
}

TEST(OdsReader, CyrillicTankSummary) {
  auto reader = sheet::OpenOds(DataFile("tank_summary_ru.ods"));
  EXPECT_EQ(reader->SheetNames(), std::vector<std::string>{"Сводка"});
  CollectingSink sink;
  reader->ReadSheet(0, sink);
  ExpectCells(sink, {
                        {"A1", "s:Цистерна №1 — топливо"},
                        {"D2", "s:Объём, м³"},
                        {"A3", "s:ЦТ-1"},
                        {"B3", "n:12"},
                        {"C4", "s:ПрБ"},
                        {"D4", "n:35.125"},
                        {"A5", ""},
                        {"A6", "s:Цистерна №2 — пресная вода"},
                        {"B7", "n:-3"},
                        {"D7", "n:0.01"},
                    });
  // The empty rows and columns that fill the sheet are not expanded into cells.
  EXPECT_EQ(sink.order.size(), 22u);
}

TEST(OdsReader, SheetsInOrderByName) {
  auto reader = sheet::OpenOds(DataFile("cell_types.ods"));
  // The table nested in a cell of "Second" is no sheet.
  EXPECT_EQ(reader->SheetNames(), (std::vector<std::string>{"Типы", "Second", "Empty"}));
  CollectingSink second;
  reader->ReadSheet(1, second);
  ExpectCells(second, {{"A1", ""}, {"B1", "s:outer"}});
  EXPECT_EQ(second.cells.size(), 1u);
  CollectingSink empty;
  reader->ReadSheet(2, empty);
  EXPECT_TRUE(empty.cells.empty());
  EXPECT_THROW(reader->ReadSheet(3, empty), sheet::WorkbookError);
}

TEST(OdsReader, CellTypes) {
  const auto sink = ReadSheet(DataFile("cell_types.ods"));
  ExpectCells(sink, {
                        // value types: the value attributes, not the displayed text
                        {"A1", "n:1.5"},
                        {"B1", "n:0.25"},
                        {"C1", "n:-12.5"},
                        {"D1", "d:45351"},
                        {"E1", "d:0.75"},
                        {"F1", "d:0.2565162037037037"},
                        {"G1", "b:1"},
                        {"H1", "b:0"},
                        // text: paragraphs joined by a line feed; blanks, tabs, breaks;
                        // spans and links kept, comments and drawings left out
                        {"A2", "s:first\nsecond"},
                        {"B2", "s:a b   c\td\ne"},
                        {"C2", "s:span link"},
                        {"D2", "s:from attribute"},
                        {"E2", "e:#DIV/0!"},
                        {"F2", "s:untyped"},
                        {"G2", ""},
                        {"H2", "n:7"},
                        // a value repeated over columns
                        {"B3", ""},
                        {"C3", "n:5"},
                        {"D3", "n:5"},
                        {"E3", "n:5"},
                        {"F3", ""},
                        {"G3", "s:end"},
                        // a row repeated
                        {"A4", "s:twice"},
                        {"B5", "n:2"},
                        {"A6", ""},
                        // merged cells: the value in the top-left cell only
                        {"A9", "s:merged"},
                        {"B9", ""},
                        {"C9", ""},
                        {"D9", "s:after"},
                        {"A10", ""},
                        {"C10", "s:below"},
                        // rows inside header rows and row groups
                        {"A11", "s:header"},
                        {"A12", "n:3"},
                    });
  EXPECT_EQ(sink.At("A13"), "");
}

TEST(OdsReader, AnyPrefixes) {
  auto reader = sheet::OpenOds(DataFile("prefixes.ods"));
  EXPECT_EQ(reader->SheetNames(), std::vector<std::string>{"P"});
  CollectingSink sink;
  reader->ReadSheet(0, sink);
  ExpectCells(sink, {{"A1", "n:9"}, {"B1", "s:nine"}});
}

TEST(OdsReader, TrickySheetNames) {
  auto reader = sheet::OpenOds(DataFile("tricky_names.ods"));
  EXPECT_EQ(reader->SheetNames(), (std::vector<std::string>{"A & B", "single A", "last"}));
  CollectingSink first;
  reader->ReadSheet(0, first);
  ExpectCells(first, {{"A1", "s:<table:table table:name=\"cdata\">"}});
  CollectingSink last;
  reader->ReadSheet(2, last);
  ExpectCells(last, {{"A1", "n:1"}});
}

// Records the top-level tables the quick tag scan finds.
class TableScanner : public sheet::XmlTagScanner {
 public:
  TableScanner() : XmlTagScanner("content.xml") {}
  std::vector<std::string> tables;

 protected:
  void OnStart(const sheet::XmlName& name, const Tag& tag) override {
    if (name.Is(sheet::XmlNs::Table, "table")) {
      const auto* value = sheet::FindAttribute(tag.Attributes(), sheet::XmlNs::Table, "name");
      tables.push_back(value ? std::string(*value) : "?");
    }
  }
  void OnEnd(const sheet::XmlName&) override {}
};

TEST(XmlTagScanner, FollowsTheDocumentInPiecesOfAnySize) {
  // The names come from the scan itself, not from the full parse it falls back on.
  const std::string xml =
      sheet::ZipArchive(DataFile("tricky_names.ods")).ReadAll("content.xml", 1 << 20);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, xml.size()}) {
    SCOPED_TRACE(piece);
    TableScanner scanner;
    for (std::size_t pos = 0; pos < xml.size(); pos += piece) {
      scanner.Feed(xml.data() + pos, std::min(piece, xml.size() - pos));
    }
    scanner.Finish();
    EXPECT_FALSE(scanner.Failed());
    EXPECT_EQ(scanner.tables, (std::vector<std::string>{"A & B", "single A", "last"}));
  }
}

TEST(XmlTagScanner, GivesUpOnWhatItCannotFollow) {
  struct Case {
    const char* name;
    std::string_view xml;
  };
  const Case cases[] = {
      {"unfinished tag", "<a><b"},
      {"element left open", "<a><b/>"},
      {"end tag without start", "</a>"},
      {"declared entity", "<a xmlns:t=\"&ent;\"/>"},
      {"another encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>"},
      {"UTF-16", std::string_view("<\0a\0/\0>\0", 8)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TableScanner scanner;
    scanner.Feed(c.xml.data(), c.xml.size());
    scanner.Finish();
    EXPECT_TRUE(scanner.Failed());
  }
  TableScanner doctype;
  const std::string xml = "<!DOCTYPE a [<!ENTITY e \"x\">]><a/>";
  EXPECT_THROW(doctype.Feed(xml.data(), xml.size()), sheet::WorkbookError);
}

TEST(OdsReader, BadInputEndsInWorkbookError) {
  cell_test::ExpectReadErrors(
      sheet::OpenOds,
      {
          {"missing file", DataFile("no such file.ods"), true, "cannot read the file"},
          {"not a zip archive", DataFile("make_fixtures.py"), true, "not a zip archive"},
          {"truncated archive", DataFile("truncated.ods"), true, "not a zip archive"},
          {"text document", DataFile("text_document.ods"), true, "not a spreadsheet"},
          {"password protected", DataFile("encrypted.ods"), true, "protected by a password"},
          {"no content.xml", DataFile("no_content.ods"), true, "content.xml is missing"},
          {"entity expansion", DataFile("entities.ods"), true, "document type declaration"},
          {"malformed XML", DataFile("malformed.ods"), false, "not well-formed XML"},
          {"80 MB tag", DataFile("long_tag.ods"), true, "longer than 32 MB"},
          {"repeat bomb", DataFile("repeat_bomb.ods"), false, "repeats its cells"},
          {"value past the last column", DataFile("value_beyond_columns.ods"), false,
           "16384 columns"},
          {"value past the last row", DataFile("value_beyond_rows.ods"), false, "1048576 rows"},
          {"two billion blanks", DataFile("spaces_bomb.ods"), false, "blanks"},
          // Paragraphs of cells valued by their attributes are skipped, not left unchecked.
          {"mismatched tag in a number cell", DataFile("mismatched_in_number.ods"), false,
           "mismatched tag"},
          {"undefined entity in a number cell", DataFile("entity_in_number.ods"), false,
           "undefined entity"},
      });
}

// The displayed text of a number cell is never built, so a blank count that would be
// refused in a text cell costs nothing there; the value comes from the attribute.
TEST(OdsReader, ParagraphOfANumberCellIsNotBuilt) {
  const CollectingSink sink = ReadSheet(DataFile("blanks_in_number.ods"));
  ExpectCells(sink, {{"A1", "n:7"}, {"B1", "s:x"}});
}

TEST(OdsReader, LimitsAreEnforced) {
  struct Case {
    const char* name;
    sheet::ReaderLimits limits;
    const char* message;
  };
  sheet::ReaderLimits smallParts;
  smallParts.maxDecompressedPart = 1000;
  sheet::ReaderLimits shortStrings;
  shortStrings.maxCellChars = 2;  // "from attribute" is longer than 8 bytes
  sheet::ReaderLimits fewRows;
  fewRows.maxRows = 4;  // "twice" is repeated into row 5
  sheet::ReaderLimits fewColumns;
  fewColumns.maxColumns = 4;  // the value repeated over C3:E3 passes column D
  const Case cases[] = {
      {"part size", smallParts, "limit of 1000 bytes"},
      {"string length", shortStrings, "limit of 2 characters"},
      {"rows", fewRows, "limit of 4 rows"},
      {"columns", fewColumns, "limit of 4 columns"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ReadSheet(DataFile("cell_types.ods"), 0, c.limits);
      ADD_FAILURE() << "no error";
    } catch (const sheet::WorkbookError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}

TEST(OdsReader, FuzzRegressions) { cell_test::ReplayFuzzRegressions(sheet::OpenOds, "ods"); }

// --- Real spreadsheets ----------------------------------------------------------------

#define REQUIRE_REAL_WORKBOOKS()                                                            \
  if (!std::filesystem::is_directory(std::string(TANKLOAD_SHARED_FIXTURES) + "/workbooks")) \
  GTEST_SKIP() << "the real workbooks are not there: " << TANKLOAD_SHARED_FIXTURES << "/workbooks"

TEST(OdsReaderReal, MergedCells) {
  REQUIRE_REAL_WORKBOOKS();
  // Excel's CSV of the same workbook: "A1:B2,,C1:C2,Separate blocks" / ",,," /
  // "A3:B3,,C3," / "… are merged separately,,,".
  const auto sink = ReadSheet(RealFile("sheetjs/merge_cells.ods"));
  ExpectCells(sink, {
                        {"A1", "s:A1:B2"},
                        {"B1", ""},
                        {"C1", "s:C1:C2"},
                        {"D1", "s:Separate blocks"},
                        {"A2", ""},
                        {"C2", ""},
                        {"A3", "s:A3:B3"},
                        {"B3", ""},
                        {"C3", "s:C3"},
                        {"A4", "s:… are merged separately"},
                        {"B4", ""},
                    });
  EXPECT_EQ(sink.cells.size(), 6u);
}

TEST(OdsReaderReal, LineBreaksInCells) {
  REQUIRE_REAL_WORKBOOKS();
  const auto sink = ReadSheet(RealFile("sheetjs/crlf_crlf.ods"));
  ExpectCells(sink, {
                        {"A1", "s:Normal"},
                        {"B1", "s:abc\nDef"},    // two paragraphs
                        {"B2", "s:abc\r\ndef"},  // the formula's own string value
                        {"A3", "s:Test"},
                        {"B3", ""},
                    });
}

TEST(OdsReaderReal, CachedFormulaResults) {
  REQUIRE_REAL_WORKBOOKS();
  auto reader = sheet::OpenOds(RealFile("sheetjs/formula_stress_test.ods"));
  ASSERT_GE(reader->SheetNames().size(), 2u);
  CollectingSink database;
  reader->ReadSheet(0, database);
  // Excel's CSV of the .xlsx shows these results: DAVERAGE 11.66666667, DCOUNT 3,
  // DSTDEV 5.057996968.
  ExpectCells(database, {{"A2", "s:DAVERAGE"}, {"B3", "n:3"}, {"A9", "s:DSTDEV"}});
  EXPECT_NEAR(database.cells.at({1, 1}).number, 11.66666667, 1e-8);
  EXPECT_NEAR(database.cells.at({8, 1}).number, 5.057996968, 1e-9);
  CollectingSink core;
  reader->ReadSheet(1, core);
  // DATE(2013;6;9) and TIME(6;9;23).
  ExpectCells(core, {{"B2", "d:41434"}, {"B4", "d:0.2565162037037037"}});
}

}  // namespace
