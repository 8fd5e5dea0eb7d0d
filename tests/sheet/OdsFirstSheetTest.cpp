// The .ods reader keeps the first sheet's cells from the parse that lists the sheets. A
// kept sheet, a sheet too large to keep and a document with faults after the first sheet
// must all read as a fresh parse reads them, with errors at the same point as before.

#include <gtest/gtest.h>
#include <zip.h>

#include <map>
#include <string>
#include <utility>

#include "SheetTestSupport.h"
#include "sheet/Workbook.h"

namespace {

using sheet::Cell;
using sheet_test::TempDir;

void WriteOds(const std::string& path, const std::string& tables) {
  static const std::string mime = "application/vnd.oasis.opendocument.spreadsheet";
  const std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
      " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
      " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
      "<office:body><office:spreadsheet>" +
      tables + "</office:spreadsheet></office:body></office:document-content>";
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(zip, nullptr);
  for (const auto& [name, data] : {std::pair{"mimetype", &mime}, {"content.xml", &content}}) {
    zip_source_t* source = zip_source_buffer(zip, data->data(), data->size(), 0);
    ASSERT_NE(source, nullptr);
    ASSERT_GE(zip_file_add(zip, name, source, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(zip), 0);
}

std::string Table(const std::string& name, const std::string& rows) {
  return "<table:table table:name=\"" + name + "\">" + rows + "</table:table>";
}

std::string NumberRow(int value, int repeatRows = 1, int repeatColumns = 1) {
  return "<table:table-row table:number-rows-repeated=\"" + std::to_string(repeatRows) +
         "\"><table:table-cell table:number-columns-repeated=\"" + std::to_string(repeatColumns) +
         "\" office:value-type=\"float\" office:value=\"" + std::to_string(value) +
         "\"/><table:table-cell office:value-type=\"string\"><text:p>Цистерна</text:p>"
         "</table:table-cell></table:table-row>";
}

// Counts the cells and keeps a summary of them.
class Summary : public sheet::CellSink {
 public:
  void OnCell(std::uint32_t row, std::uint32_t column, const Cell& cell) override {
    ++count;
    last = {row, column};
    if (cell.kind == Cell::Kind::Number) sum += cell.number;
    if (cell.kind == Cell::Kind::Text) text += cell.text.size();
  }
  std::size_t count = 0;
  std::pair<std::uint32_t, std::uint32_t> last;
  double sum = 0;
  std::size_t text = 0;

  std::string Text() const {
    return std::to_string(count) + " cells to " + std::to_string(last.first) + ":" +
           std::to_string(last.second) + ", sum " + std::to_string(sum) + ", text " +
           std::to_string(text);
  }
};

TEST(OdsFirstSheet, ReadAgainGivesTheSameCells) {
  struct Case {
    const char* name;
    std::string tables;
    std::size_t cells;  // of the first sheet
  };
  const Case cases[] = {
      {"small first sheet, kept",
       Table("A", NumberRow(1) + NumberRow(2)) + Table("B", NumberRow(7)), 4},
      // 1,310,800 cells: more than the reader keeps, so it is read again from the file.
      {"first sheet too large to keep",
       Table("A", NumberRow(3, 80, 16383)) + Table("B", NumberRow(7)), 80u * 16384},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("book.ods");
    WriteOds(path, c.tables);
    auto reader = sheet::OpenOds(path);
    EXPECT_EQ(reader->SheetNames(), (std::vector<std::string>{"A", "B"}));
    Summary first, again, second;
    reader->ReadSheet(0, first);
    reader->ReadSheet(0, again);
    reader->ReadSheet(1, second);
    EXPECT_EQ(first.count, c.cells);
    EXPECT_EQ(first.Text(), again.Text());
    EXPECT_EQ(second.count, 2u);
    EXPECT_EQ(second.sum, 7);
  }
}

TEST(OdsFirstSheet, FaultsShowWhenTheirSheetIsRead) {
  TempDir dir;
  const std::string path = dir.File("book.ods");
  // The second sheet has a reference to an entity no document declares.
  WriteOds(path, Table("A", NumberRow(1)) +
                     Table("B",
                           "<table:table-row><table:table-cell><text:p>&bogus;</text:p>"
                           "</table:table-cell></table:table-row>"));
  auto reader = sheet::OpenOds(path);
  EXPECT_EQ(reader->SheetNames(), (std::vector<std::string>{"A", "B"}));
  Summary first, second;
  reader->ReadSheet(0, first);
  EXPECT_EQ(first.count, 2u);
  try {
    reader->ReadSheet(1, second);
    ADD_FAILURE() << "no error";
  } catch (const sheet::WorkbookError& e) {
    EXPECT_NE(std::string(e.what()).find("undefined entity"), std::string::npos) << e.what();
  }

  // A limit passed in the first sheet is reported by reading it, not by opening.
  sheet::ReaderLimits narrow;
  narrow.maxColumns = 1;
  WriteOds(path, Table("A", NumberRow(1)));
  auto limited = sheet::OpenOds(path, narrow);
  EXPECT_THROW(limited->ReadSheet(0, first), sheet::WorkbookError);
}

}  // namespace
