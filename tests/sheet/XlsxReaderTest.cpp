// The .xlsx/.xlsm reader on workbooks of our own making (one behaviour each, written by
// tests/sheet/data/xlsx/make_fixtures.py) and on real workbooks written by Excel and
// other applications, compared with the text Excel itself produced from them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sheet/Workbook.h"
#include "tests/sheet/CellTestSupport.h"
#include "sheet/XmlText.h"

namespace {

using cell_test::CollectingSink;
using cell_test::Describe;
using cell_test::ExpectCells;
using cell_test::Name;
using sheet::Cell;

std::string DataFile(const std::string& name) {
  return std::string(TANKLOAD_SOURCE_DIR) + "/tests/sheet/data/xlsx/" + name;
}

std::string RealFile(const std::string& name) {
  return std::string(TANKLOAD_SHARED_FIXTURES) + "/workbooks/" + name;
}

CollectingSink ReadSheet(const std::string& path, std::size_t index = 0,
                         const sheet::ReaderLimits& limits = {}) {
  return cell_test::ReadSheetWith(
      [](const std::string& p, const sheet::ReaderLimits& l) { return sheet::OpenXlsx(p, l); },
      path, index, limits);
}

TEST(XlsxReader, CyrillicTankSummary) {
  auto reader = sheet::OpenXlsx(DataFile("tank_summary_ru.xlsx"));
  EXPECT_EQ(reader->SheetNames(), std::vector<std::string>{"Сводка"});
  CollectingSink sink;
  reader->ReadSheet(0, sink);
  ExpectCells(sink, {
                        {"A1", "s:Цистерна №1 — топливо"},
                        {"B1", ""},
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
  EXPECT_EQ(sink.order.front(), "A1");
  EXPECT_EQ(sink.order.back(), "E7");
}

TEST(XlsxReader, CellTypes) {
  const auto sink = ReadSheet(DataFile("cell_types.xlsx"));
  ExpectCells(sink, {
                        // shared strings: plain, rich text runs without the phonetic
                        // reading, escapes decoded, an empty string
                        {"A1", "s:plain"},
                        {"B1", "s:rich text runs"},
                        {"C1", "s:line\r\nbreak"},
                        {"D1", "s:under_x0041_score"},
                        {"E1", "s:"},
                        // inline strings and cached formula results
                        {"A2", "s:inline"},
                        {"B2", "s:inline rich"},
                        {"C2", "s:ab"},
                        {"D2", "n:2"},
                        {"E2", "s:x\ry"},
                        {"A3", "b:1"},
                        {"B3", "b:0"},
                        {"C3", "e:#DIV/0!"},
                        {"D3", "e:#N/A"},
                        {"E3", "d:45351.5"},
                        // no references: row 4 after row 3, cells one after another
                        {"A4", "n:1.5"},
                        {"B4", "s:plain"},
                        {"C4", "n:-0.0025000000000000001"},
                        // a reference in the middle of a row without them
                        {"A6", "n:10"},
                        {"D6", "n:11"},
                        {"E6", "n:12"},
                        // cells without a value deliver nothing
                        {"A7", ""},
                        {"B7", ""},
                        {"C7", ""},
                        {"D7", ""},
                        {"E7", "n:7"},
                        // numbers in full precision; a value that is no number kept as text
                        {"A8", "n:0.10000000000000001"},
                        {"B8", "n:1.2345678901234568e+17"},
                        {"C8", "s:not a number"},
                    });
}

TEST(XlsxReader, DateStylesInBothDateSystems) {
  // Every cell holds 45000.5; its style decides whether it is a date. In the 1904 system
  // the same serial is 1462 days later; a duration is not moved.
  enum Kind { kNumber, kDate, kDuration };
  struct Case {
    const char* reference;
    const char* why;
    Kind kind;
  };
  const Case cases[] = {
      {"A1", "General", kNumber},
      {"B1", "built-in date and time (22)", kDate},
      {"C1", "custom dd.mm.yyyy with escaped points", kDate},
      {"D1", "colour brackets and an escaped minus", kNumber},
      {"E1", "a d inside a quoted literal", kNumber},
      {"F1", "elapsed hours [h]:mm", kDuration},
      {"G1", "locale bracket [$-419] and escaped text", kNumber},
      {"H1", "built-in id 14 redefined as 0.00", kNumber},
      {"I1", "built-in time mm:ss.0 (47)", kDate},
  };
  for (const bool date1904 : {false, true}) {
    const auto sink = ReadSheet(DataFile(date1904 ? "dates1904.xlsx" : "dates1900.xlsx"));
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.reference) + " " + c.why + (date1904 ? " (1904)" : " (1900)"));
      const std::string expected = c.kind == kNumber             ? "n:45000.5"
                                   : c.kind == kDate && date1904 ? "d:46462.5"
                                                                 : "d:45000.5";
      EXPECT_EQ(sink.At(c.reference), expected);
    }
  }
}

TEST(XlsxReader, PartsFromRelationships) {
  auto reader = sheet::OpenXlsx(DataFile("relationships.xlsx"));
  // The chart sheet is not a worksheet; the order is the workbook's.
  EXPECT_EQ(reader->SheetNames(), (std::vector<std::string>{"First", "Second"}));
  CollectingSink first;
  reader->ReadSheet(0, first);
  ExpectCells(first, {{"A1", "s:first"}, {"B1", "n:42"}});
  CollectingSink second;
  reader->ReadSheet(1, second);
  ExpectCells(second, {{"C2", "s:second"}});
  EXPECT_EQ(second.cells.size(), 1u);
}

TEST(XlsxReader, ResolvePathsIndependently) {
  // Reading sheets again, in any order, gives the same cells.
  auto reader = sheet::OpenXlsx(DataFile("relationships.xlsx"));
  for (const std::size_t index : {1u, 0u, 1u}) {
    CollectingSink sink;
    reader->ReadSheet(index, sink);
    EXPECT_EQ(sink.cells.size(), index == 0 ? 2u : 1u);
  }
}

TEST(XlsxReader, BadInputEndsInWorkbookError) {
  cell_test::ExpectReadErrors(
      sheet::OpenXlsx,
      {
          {"missing file", DataFile("no such file.xlsx"), true, "cannot read the file"},
          {"not a zip archive", DataFile("make_fixtures.py"), true, "not a zip archive"},
          {"truncated archive", DataFile("truncated.xlsx"), true, "not a zip archive"},
          {"binary workbook", DataFile("binary.xlsx"), true, ".xlsb"},
          {"checksum mismatch", DataFile("bad_checksum.xlsx"), false, "is damaged"},
          {"entity expansion", DataFile("entities.xlsx"), false, "document type declaration"},
          {"malformed XML", DataFile("malformed.xlsx"), false, "not well-formed XML"},
          {"80 MB tag", DataFile("long_tag.xlsx"), false, "longer than 32 MB"},
          {"column past XFD", DataFile("column_too_far.xlsx"), false, "16384 columns"},
          {"row past 1048576", DataFile("row_too_far.xlsx"), false, "1048576 rows"},
          {"invalid cell reference", DataFile("bad_reference.xlsx"), false, "\"1A\""},
          {"shared string out of range", DataFile("string_index.xlsx"), false, "shared string"},
          {"worksheet part missing", DataFile("missing_sheet.xlsx"), false, "\"Lost\""},
      });
}

TEST(XlsxReader, LimitsAreEnforced) {
  sheet::ReaderLimits smallParts;
  smallParts.maxDecompressedPart = 1 << 20;  // the bomb's sheet expands to 8 MB
  sheet::ReaderLimits fewStrings;
  fewStrings.maxSharedStrings = 3;  // the table has 5
  sheet::ReaderLimits shortStrings;
  shortStrings.maxStringBytes = 16;  // the strings together are longer
  sheet::ReaderLimits fewRows;
  fewRows.maxRows = 3;
  sheet::ReaderLimits fewColumns;
  fewColumns.maxColumns = 4;
  cell_test::ExpectReadErrors(
      sheet::OpenXlsx,
      {
          {"zip bomb", DataFile("bomb.xlsx"), false, "limit of 1048576 bytes", smallParts},
          // The zip headers claim 100 bytes: only counting what comes out catches it.
          {"zip bomb with a false size", DataFile("lying_size.xlsx"), false, "", smallParts},
          {"shared string count", DataFile("cell_types.xlsx"), false, "more than 3 entries",
           fewStrings},
          {"shared string bytes", DataFile("cell_types.xlsx"), false, "limit of 16 bytes",
           shortStrings},
          {"rows", DataFile("cell_types.xlsx"), false, "limit of 3 rows", fewRows},
          {"columns", DataFile("cell_types.xlsx"), false, "limit of 4 columns", fewColumns},
      });
  // Within the default limits the bomb is only a large sheet.
  EXPECT_EQ(ReadSheet(DataFile("bomb.xlsx")).At("A1"), "n:1");
}

TEST(XlsxReader, NoSuchSheet) {
  auto reader = sheet::OpenXlsx(DataFile("tank_summary_ru.xlsx"));
  CollectingSink sink;
  EXPECT_THROW(reader->ReadSheet(1, sink), sheet::WorkbookError);
}

TEST(XlsxReader, FuzzRegressions) { cell_test::ReplayFuzzRegressions(sheet::OpenXlsx, "xlsx"); }

// --- Real workbooks -------------------------------------------------------------------

bool HaveRealWorkbooks() {
  return std::filesystem::is_directory(std::string(TANKLOAD_SHARED_FIXTURES) + "/workbooks");
}

#define REQUIRE_REAL_WORKBOOKS() \
  if (!HaveRealWorkbooks())      \
  GTEST_SKIP() << "the real workbooks are not there: " << TANKLOAD_SHARED_FIXTURES << "/workbooks"

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += n;
  }
  return true;
}

// The baselines are UTF-8, UTF-16 LE with BOM (Excel's Unicode text) or Windows-1252.
std::string ToUtf8(const std::string& bytes) {
  std::string out;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      std::uint32_t unit =
          static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
        const std::uint32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                                  static_cast<unsigned char>(bytes[i + 3]) << 8;
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
      sheet::AppendUtf8(out, unit);
    }
    return out;
  }
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return bytes.substr(3);
  if (IsValidUtf8(bytes)) return bytes;
  static const std::uint16_t k1252[32] = {
      0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
      0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    sheet::AppendUtf8(out, c >= 0x80 && c < 0xA0 ? k1252[c - 0x80] : c);
  }
  return out;
}

// Rows of fields from Excel's text (tab) or CSV (comma, quotes) output.
std::vector<std::vector<std::string>> ParseBaseline(const std::string& path) {
  const std::string text = ToUtf8(ReadBytes(path));
  const char separator = path.ends_with(".csv") ? ',' : '\t';
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && field.empty()) {
      quoted = true;
    } else if (c == separator) {
      rows.back().push_back(std::move(field));
      field.clear();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      rows.back().push_back(std::move(field));
      field.clear();
      rows.emplace_back();
    } else {
      field += c;
    }
  }
  rows.back().push_back(std::move(field));
  return rows;
}

// Whether our cell agrees with the text Excel showed for it. Numbers are compared to the
// precision Excel displayed; dates by their shape (the formats are Excel's, not ours).
bool Agrees(const Cell* cell, const std::string& shown, std::string& why) {
  const std::string described = cell ? Describe(*cell) : "no cell";
  why = "ours " + described + ", Excel shows \"" + shown + "\"";
  if (cell == nullptr || cell->kind == Cell::Kind::Empty) return shown.empty();
  switch (cell->kind) {
    case Cell::Kind::Text:
    case Cell::Kind::Error: {
      if (cell->text == shown) return true;
      // Excel pads some formatted values with blanks (" $1,337.00 ").
      std::string a = cell->text, b = shown;
      auto trim = [](std::string& s) {
        while (!s.empty() && s.back() == ' ') s.pop_back();
        while (!s.empty() && s.front() == ' ') s.erase(s.begin());
      };
      trim(a);
      trim(b);
      return a == b;
    }
    case Cell::Kind::Boolean:
      return shown == (cell->number != 0 ? "TRUE" : "FALSE");
    case Cell::Kind::DateTime:
      return shown.find('/') != std::string::npos || shown.find(':') != std::string::npos ||
             shown.find(',') != std::string::npos;
    case Cell::Kind::Number: {
      std::string digits;
      bool percent = false;
      for (const char c : shown) {
        if ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'E' || c == 'e' || c == '+') {
          digits += c;
        } else if (c == '%') {
          percent = true;
        } else if (c == '(') {
          digits.insert(digits.begin(), '-');
        }
      }
      const auto value = sheet::ParseXmlNumber(digits);
      if (!value) return false;
      const double expected = percent ? *value / 100 : *value;
      const auto point = digits.find('.');
      const auto exponent = digits.find_first_of("Ee");
      int decimals = 0;
      if (point != std::string::npos) {
        decimals = static_cast<int>((exponent == std::string::npos ? digits.size() : exponent) -
                                    point - 1);
      }
      if (percent) decimals += 2;
      double tolerance = 0.5 * std::pow(10.0, -decimals) + 1e-12 * std::fabs(expected);
      if (exponent != std::string::npos) tolerance = 1e-5 * std::fabs(expected);
      return std::fabs(cell->number - expected) <= tolerance;
    }
    case Cell::Kind::Empty:
      break;
  }
  return false;
}

struct BaselineCase {
  const char* workbook;
  std::size_t sheet;
  const char* baseline;
  std::vector<std::string> volatileCells;  // formulas whose result changes with the day
};

TEST(XlsxReaderReal, AgreesWithExcelsOwnText) {
  REQUIRE_REAL_WORKBOOKS();
  const BaselineCase cases[] = {
      {"sheetjs/write.xlsx", 0, "sheetjs/write.txt", {}},
      {"sheetjs/text_and_numbers.xlsx", 0, "sheetjs/text_and_numbers.txt", {}},
      {"sheetjs/ErrorTypes.xlsx", 0, "sheetjs/ErrorTypes.txt", {}},
      {"sheetjs/merge_cells.xlsx", 0, "sheetjs/2011_merge_cells.xlsx.0.csv", {}},
      {"sheetjs/crlf_crlf.xlsx", 0, "sheetjs/crlf_crlf.csv", {}},
      {"sheetjs/formula_stress_test.xlsx", 0, "sheetjs/2011_formula_stress_test.xlsx.0.csv", {}},
      {"sheetjs/formula_stress_test.xlsx",
       1,
       "sheetjs/2011_formula_stress_test.xlsx.1.csv",
       {"B6", "B7"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.workbook);
    const auto sink = ReadSheet(RealFile(c.workbook), c.sheet);
    const auto rows = ParseBaseline(RealFile(c.baseline));
    std::size_t compared = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (std::size_t col = 0; col < rows[r].size(); ++col) {
        const std::string ref =
            Name(static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(col));
        if (std::find(c.volatileCells.begin(), c.volatileCells.end(), ref) !=
            c.volatileCells.end()) {
          continue;
        }
        const auto it =
            sink.cells.find({static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(col)});
        std::string why;
        EXPECT_TRUE(Agrees(it == sink.cells.end() ? nullptr : &it->second, rows[r][col], why))
            << ref << ": " << why;
        ++compared;
      }
    }
    EXPECT_GT(compared, 0u);
  }
}

TEST(XlsxReaderReal, ReadxlWorkbooks) {
  REQUIRE_REAL_WORKBOOKS();
  {
    SCOPED_TRACE("x: prefixes, sheet at a non-standard path, rich text, Russian");
    auto reader = sheet::OpenXlsx(RealFile("readxl/Ekaterinburg_IP_9.xlsx"));
    EXPECT_EQ(reader->SheetNames(), std::vector<std::string>{"СПАРК - Список"});
    CollectingSink sink;
    reader->ReadSheet(0, sink);
    ExpectCells(sink,
                {{"A2", "s:СПАРК - Список "}, {"A4", "s:ФИО"}, {"K4", "s:Важная информация"}});
    EXPECT_GT(sink.cells.size(), 1000u);
  }
  {
    SCOPED_TRACE("prefixed relationship attribute");
    const auto sink = ReadSheet(RealFile("readxl/nonstandard-xml-ns-prefix.xlsx"));
    ExpectCells(sink, {{"A1", "s:a"}, {"B1", "s:b"}, {"A2", "n:1"}, {"B3", "n:4"}});
  }
  {
    SCOPED_TRACE("missing <v> nodes");
    const auto sink = ReadSheet(RealFile("readxl/missing-v-node-xlsx.xlsx"));
    EXPECT_FALSE(sink.cells.empty());
    for (const auto& [position, cell] : sink.cells) {
      EXPECT_NE(cell.kind, Cell::Kind::Empty) << Name(position.first, position.second);
    }
  }
  {
    SCOPED_TRACE("inline strings");
    const auto sink = ReadSheet(RealFile("readxl/inlineStr2.xlsx"));
    EXPECT_FALSE(sink.cells.empty());
  }
  {
    SCOPED_TRACE("several sheets, blanks");
    auto reader = sheet::OpenXlsx(RealFile("readxl/types.xlsx"));
    EXPECT_GT(reader->SheetNames().size(), 1u);
    for (std::size_t i = 0; i < reader->SheetNames().size(); ++i) {
      CollectingSink sink;
      reader->ReadSheet(i, sink);
    }
  }
}

TEST(XlsxReaderReal, MacroWorkbookWithRussianFormats) {
  REQUIRE_REAL_WORKBOOKS();
  // Column B holds the text Excel displayed for column A: numbers in currency and other
  // Russian formats stay numbers, dates become dates.
  const auto sink = ReadSheet(RealFile("sheetjs/numfmt_1_russian.xlsm"));
  std::size_t numbers = 0;
  for (const auto& [position, cell] : sink.cells) {
    if (position.second == 0 && position.first > 0 && cell.kind == Cell::Kind::Number) ++numbers;
  }
  EXPECT_GT(numbers, 0u);
}

}  // namespace
