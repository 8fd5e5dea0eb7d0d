// The tab-separated text save: layout of rows and cells, cell texts by the regional
// settings, readers that deliver cells out of order, and a failed save leaving nothing.

#include "sheet/TextWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>
#include <vector>

#include "SheetTestSupport.h"
#include "platform/Exception.h"
#include "platform/FormatSettings.h"

namespace {

using sheet::Cell;
using sheet_test::ReadFile;
using sheet_test::TempDir;
using sheet_test::WriteFile;

struct Placed {
  std::uint32_t row;
  std::uint32_t column;
  Cell cell;
};

Cell Text(std::string s) { return {Cell::Kind::Text, 0.0, std::move(s)}; }
Cell Number(double v) { return {Cell::Kind::Number, v, {}}; }
Cell Date(double v) { return {Cell::Kind::DateTime, v, {}}; }
Cell Bool(bool v) { return {Cell::Kind::Boolean, v ? 1.0 : 0.0, {}}; }
Cell Error(std::string s) { return {Cell::Kind::Error, 0.0, std::move(s)}; }
Cell Blank() { return {}; }

// A reader that plays back a fixed list of cells and counts its passes.
class ListReader : public sheet::WorkbookReader {
 public:
  explicit ListReader(std::vector<Placed> cells) : cells_(std::move(cells)) {}
  std::vector<std::string> SheetNames() const override { return {"Лист1"}; }
  void ReadSheet(std::size_t, sheet::CellSink& sink) override {
    ++passes;
    for (const auto& p : cells_) sink.OnCell(p.row, p.column, p.cell);
  }
  int passes = 0;

 private:
  std::vector<Placed> cells_;
};

std::string Save(std::vector<Placed> cells, int* passes = nullptr) {
  TempDir dir;
  const std::string path = dir.File("out.txt");
  ListReader reader(std::move(cells));
  sheet::WriteSheetAsText(reader, 0, path);
  if (passes) *passes = reader.passes;
  return ReadFile(path);
}

TEST(TextWriterTest, LaysOutRowsAndCells) {
  struct Case {
    const char* name;
    std::vector<Placed> cells;
    std::string expected;
    int passes;
  } cases[] = {
      {"one row", {{0, 0, Text("Цистерна")}, {0, 1, Number(1.5)}}, "Цистерна\t1.5\r\n", 1},
      {"empty rows between become empty lines",
       {{0, 0, Text("a")}, {3, 0, Text("b")}},
       "a\r\n\r\n\r\nb\r\n",
       1},
      {"leading empty rows and columns are kept", {{2, 2, Text("x")}}, "\r\n\r\n\t\tx\r\n", 1},
      {"trailing empty cells are not written",
       {{0, 0, Text("a")}, {0, 1, Blank()}, {0, 4, Text("")}},
       "a\r\n",
       1},
      {"rows of empty cells at the end are not written",
       {{0, 0, Text("a")}, {1, 0, Blank()}, {5, 3, Text("")}},
       "a\r\n",
       1},
      {"a gap inside a row keeps the columns",
       {{0, 0, Text("a")}, {0, 3, Text("d")}},
       "a\t\t\td\r\n",
       1},
      {"no cells: empty file", {}, "", 1},
      {"columns out of order within a row",
       {{0, 2, Text("c")}, {0, 0, Text("a")}, {1, 0, Text("b")}},
       "a\t\tc\r\nb\r\n",
       1},
      {"a row that comes back is sorted in a second pass",
       {{1, 0, Text("b")}, {0, 1, Text("a2")}, {2, 0, Text("c")}, {0, 0, Text("a1")}},
       "a1\ta2\r\nb\r\nc\r\n",
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int passes = 0;
    EXPECT_EQ(Save(c.cells, &passes), c.expected);
    EXPECT_EQ(passes, c.passes);
  }
}

TEST(TextWriterTest, CellTextByRegionalSettings) {
  struct Case {
    const char* name;
    Cell cell;
    std::string us;
    std::string russian;
  } cases[] = {
      {"text as it is", Text(" Танк №1 "), " Танк №1 ", " Танк №1 "},
      {"tab and line breaks become blanks", Text("a\tb\r\nc\nd"), "a b  c d", "a b  c d"},
      {"integer", Number(1200), "1200", "1200"},
      {"fraction, no grouping", Number(-12345.678), "-12345.678", "-12345,678"},
      {"15 significant digits", Number(0.1 + 0.2), "0.3", "0,3"},
      {"full precision, not the displayed rounding", Number(3.14159265358979), "3.14159265358979",
       "3,14159265358979"},
      {"date", Date(45000), "3/15/2023", "15.03.2023"},
      {"date and time", Date(45000.75), "3/15/2023 6:00:00 PM", "15.03.2023 18:00:00"},
      {"time rounded to the second", Date(12345.6789), "10/18/1933 4:17:37 PM",
       "18.10.1933 16:17:37"},
      {"a hair before midnight is the next day", Date(45000.999999999), "3/16/2023", "16.03.2023"},
      {"time alone", Date(0.5), "12:00:00 PM", "12:00:00"},
      {"booleans", Bool(true), "TRUE", "TRUE"},
      {"false", Bool(false), "FALSE", "FALSE"},
      {"error as shown", Error("#DIV/0!"), "#DIV/0!", "#DIV/0!"},
      {"not available", Error("#N/A"), "#N/A", "#N/A"},
      {"empty", Blank(), "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      platform::ScopedFormatSettings us(platform::UsFormatSettings());
      EXPECT_EQ(sheet::CellText(c.cell), c.us);
    }
    {
      platform::ScopedFormatSettings ru(platform::RussianFormatSettings());
      EXPECT_EQ(sheet::CellText(c.cell), c.russian);
    }
  }
}

TEST(TextWriterTest, ReplacesAnOldFileCompletely) {
  TempDir dir;
  const std::string path = dir.File("out.txt");
  WriteFile(path, "a much longer old text that must not survive\r\n");
  ListReader reader({{0, 0, Text("new")}});
  sheet::WriteSheetAsText(reader, 0, path);
  EXPECT_EQ(ReadFile(path), "new\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

// A reader that fails halfway: no text file, and no temporary file either.
TEST(TextWriterTest, FailureLeavesNoFile) {
  class FailingReader : public sheet::WorkbookReader {
   public:
    std::vector<std::string> SheetNames() const override { return {"S"}; }
    void ReadSheet(std::size_t, sheet::CellSink& sink) override {
      sink.OnCell(0, 0, Text("half"));
      throw sheet::WorkbookError("Corrupt workbook: truncated sheet");
    }
  };
  TempDir dir;
  FailingReader reader;
  EXPECT_THROW(sheet::WriteSheetAsText(reader, 0, dir.File("out.txt")), sheet::WorkbookError);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A reader that lets a cell through beyond the largest sheet: an error, not a file of
// millions of empty lines or a row of millions of tabs.
TEST(TextWriterTest, CellBeyondTheLargestSheetIsAnError) {
  const sheet::ReaderLimits limits;
  struct Case {
    const char* name;
    Placed far;
  } cases[] = {
      {"row", {limits.maxRows, 0, Text("far")}},
      {"column", {0, limits.maxColumns, Text("far")}},
      {"largest index", {0xFFFFFFFFu, 0xFFFFFFFFu, Text("far")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ListReader reader({{0, 0, Text("a")}, c.far});
    EXPECT_THROW(sheet::WriteSheetAsText(reader, 0, dir.File("out.txt")), sheet::WorkbookError);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
}

// The limits of one cell's characters (not bytes: Cyrillic takes two) and of the whole
// text (empty lines included), at the limit and one past it, for a reader in row order
// and one that makes the writer sort; past a limit the old file stays as it was.
TEST(TextWriterTest, CellAndTextLimits) {
  const std::vector<Placed> inOrder = {
      {0, 0, Text("Цисте")}, {0, 1, Number(1.5)}, {2, 0, Error("#DIV/0!")}};
  const std::string text = "Цисте\t1.5\r\n\r\n#DIV/0!\r\n";  // 27 bytes
  const std::vector<Placed> sorted = {inOrder[2], inOrder[1], inOrder[0]};
  struct Case {
    const char* name;
    std::uint64_t cellChars;
    std::uint64_t textBytes;
    const char* error;  // a part of the message, nullptr when the text is written
  } cases[] = {
      {"at both limits", 7, text.size(), nullptr},
      {"a character too many", 6, 1000, "the text of cell A3 is longer than the limit of 6"},
      {"below the Cyrillic cell", 4, 1000, "limit of 4 characters"},
      {"a byte too many", 7, text.size() - 1, "TANKLOAD_MAX_TEXT_BYTES"},
      // The last line alone would still fit in 25 bytes, not with the empty one before it.
      {"empty lines count", 7, 25, "limit of 25 bytes"},
  };
  for (const bool sorting : {false, true}) {
    const std::vector<Placed>& cells = sorting ? sorted : inOrder;
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (sorting ? ", sorted" : ""));
      sheet::ReaderLimits limits;
      limits.maxCellChars = c.cellChars;
      limits.maxTextBytes = c.textBytes;
      TempDir dir;
      const std::string path = dir.File("out.txt");
      WriteFile(path, "old");
      ListReader reader(cells);
      if (c.error == nullptr) {
        sheet::WriteSheetAsText(reader, 0, path, limits);
        EXPECT_EQ(ReadFile(path), text);
        continue;
      }
      try {
        sheet::WriteSheetAsText(reader, 0, path, limits);
        ADD_FAILURE() << "no error";
      } catch (const sheet::LimitError& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
      }
      EXPECT_EQ(ReadFile(path), "old");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                              std::filesystem::directory_iterator()),
                1);
    }
  }
}

TEST(TextWriterTest, UnwritablePathRaisesFileError) {
  TempDir dir;
  ListReader reader({{0, 0, Text("a")}});
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {
      {"missing folder", dir.File("no/such/folder/out.txt")},
      {"a directory in the way", dir.path().string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(sheet::WriteSheetAsText(reader, 0, c.path), EFileError);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
