// Workbooks written by real spreadsheet applications (../shared/fixtures/workbooks),
// converted through SaveSheetAsText and the native engine, compared with the text the
// application itself produced. The application shows numbers rounded by the cell's
// format and dates in its own pattern, so cells are compared by value: numbers within
// the precision shown, dates by day, everything else as text.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>

#include "SheetTestSupport.h"
#include "platform/FormatSettings.h"
#include "platform/Text.h"
#include "sheet/Engine.h"
#include "sheet/Xlsfun.h"

namespace {

using sheet_test::ReadFile;
using sheet_test::RecordingSink;
using sheet_test::TempDir;
using Rows = std::vector<std::vector<std::string>>;

// Splits a tab-separated or comma-separated text; quoted cells may hold separators,
// doubled quotes and line breaks.
Rows ParseDelimited(const std::string& text, char separator) {
  Rows rows(1);
  std::string cell;
  bool quoted = false, cellStarted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"' && !cellStarted) {
      quoted = cellStarted = true;
    } else if (c == separator) {
      rows.back().push_back(cell);
      cell.clear();
      cellStarted = false;
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      rows.back().push_back(cell);
      cell.clear();
      cellStarted = false;
      rows.emplace_back();
    } else {
      cell += c;
      cellStarted = true;
    }
  }
  if (!cell.empty() || !rows.back().empty()) rows.back().push_back(cell);
  for (auto& row : rows) {
    while (!row.empty() && row.back().empty()) row.pop_back();
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

// Blanks for line breaks and tabs, runs of blanks as one, no blanks at the ends.
std::string Normalised(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A number as the application displays it: grouping, currency sign, parentheses for
// negatives, percent, exponent. Gives the value and the step of its last digit shown.
struct Shown {
  double value;
  double step;
};
std::optional<Shown> ParseShownNumber(const std::string& s) {
  static const std::regex number(
      R"(^\s*(\(|-)?\s*\$?\s*([0-9][0-9,]*)(\.([0-9]*))?([Ee]([+-]?[0-9]+))?\s*(%)?\s*\)?\s*$)");
  std::smatch m;
  if (!std::regex_match(s, m, number)) return std::nullopt;
  std::string digits = m[2].str();
  std::erase(digits, ',');
  const std::string fraction = m[4].str();
  double value = std::stod(digits + (fraction.empty() ? "" : "." + fraction));
  double step = std::pow(10.0, -static_cast<double>(fraction.size()));
  if (m[6].matched) {
    const double scale = std::pow(10.0, std::stod(m[6].str()));
    value *= scale;
    step *= scale;
  }
  if (m[7].matched) {
    value /= 100;
    step /= 100;
  }
  if (m[1].matched) value = -value;
  return Shown{value, step};
}

std::optional<std::array<int, 3>> ParseUsDate(const std::string& s) {
  static const std::regex date(R"(^\s*([0-9]{1,2})/([0-9]{1,2})/([0-9]{2,4})\b.*$)");
  std::smatch m;
  if (!std::regex_match(s, m, date)) return std::nullopt;
  return std::array<int, 3>{std::stoi(m[3].str()) % 100, std::stoi(m[1].str()),
                            std::stoi(m[2].str())};
}

bool SameValue(const std::string& shown, const std::string& ours) {
  if (shown.find("\xEF\xBF\xBD") != std::string::npos) return true;  // lost in the baseline
  if (Normalised(shown) == Normalised(ours)) return true;
  const auto a = ParseShownNumber(shown);
  const auto b = ParseShownNumber(ours);
  if (a && b) {
    return std::fabs(a->value - b->value) <= a->step / 2 + 1e-9 * std::fabs(a->value) + 1e-12;
  }
  const auto da = ParseUsDate(shown);
  const auto db = ParseUsDate(ours);
  return da && db && *da == *db;
}

std::string Differences(const Rows& shown, const Rows& ours) {
  std::ostringstream out;
  const std::size_t rows = std::max(shown.size(), ours.size());
  for (std::size_t r = 0; r < rows; ++r) {
    const auto& a = r < shown.size() ? shown[r] : std::vector<std::string>{};
    const auto& b = r < ours.size() ? ours[r] : std::vector<std::string>{};
    for (std::size_t c = 0; c < std::max(a.size(), b.size()); ++c) {
      const std::string x = c < a.size() ? a[c] : "";
      const std::string y = c < b.size() ? b[c] : "";
      if (!SameValue(x, y)) {
        out << "row " << r + 1 << " column " << c + 1 << ": shown \"" << x << "\", ours \"" << y
            << "\"\n";
      }
    }
  }
  return out.str();
}

struct Case {
  std::string workbook;  // relative to the fixtures folder
  std::string sheet;     // "" for the first
  std::string baseline;  // the application's text (.txt) or values (.csv)
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.workbook << " vs " << c.baseline; }

class RealWorkbookTest : public ::testing::TestWithParam<Case> {};

TEST_P(RealWorkbookTest, ValuesMatchTheApplicationsOwnText) {
  const std::string root = sheet_test::RealWorkbooksDir();
  if (root.empty()) GTEST_SKIP() << "no real workbooks at " << TANKLOAD_SHARED_FIXTURES;
  const Case& c = GetParam();
  sheet::RegisterNativeEngine();
  platform::ScopedFormatSettings us(platform::UsFormatSettings());
  RecordingSink sink;
  TempDir dir;
  const std::string text = dir.File("out.txt");
  ASSERT_EQ(SaveSheetAsText(root + "/" + c.workbook, c.sheet, text), text)
      << (sink.messages.empty() ? "" : sink.messages[0]);
  const std::string baseline = platform::DecodeText(ReadFile(root + "/" + c.baseline));
  const char separator = c.baseline.ends_with(".csv") ? ',' : '\t';
  const Rows ours = ParseDelimited(ReadFile(text), '\t');
  EXPECT_EQ(Differences(ParseDelimited(baseline, separator), ours), "");
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return testsupport::TestName(info.param.workbook + "_" + std::to_string(info.index));
}

INSTANTIATE_TEST_SUITE_P(
    Sheetjs, RealWorkbookTest,
    ::testing::Values(
        Case{"sheetjs/write.xls", "", "sheetjs/write.txt"},
        Case{"sheetjs/write.xlsx", "", "sheetjs/write.txt"},
        Case{"sheetjs/text_and_numbers.xls", "", "sheetjs/text_and_numbers.txt"},
        Case{"sheetjs/text_and_numbers.xlsx", "", "sheetjs/text_and_numbers.txt"},
        Case{"sheetjs/ErrorTypes.xls", "", "sheetjs/ErrorTypes.txt"},
        Case{"sheetjs/ErrorTypes.xlsx", "", "sheetjs/ErrorTypes.txt"},
        Case{"sheetjs/ErrorTypes.xls", "", "sheetjs/2016_ErrorTypes.xls.0.csv"},
        Case{"sheetjs/merge_cells.xlsx", "", "sheetjs/2011_merge_cells.xlsx.0.csv"},
        Case{"sheetjs/merge_cells.xls", "", "sheetjs/2011_merge_cells.xlsx.0.csv"},
        Case{"sheetjs/merge_cells.ods", "", "sheetjs/2011_merge_cells.xlsx.0.csv"},
        Case{"sheetjs/crlf_crlf.xlsx", "", "sheetjs/crlf_crlf.csv"},
        Case{"sheetjs/crlf_crlf.xls", "", "sheetjs/crlf_crlf.csv"},
        Case{"sheetjs/formula_stress_test.xlsx", "", "sheetjs/2011_formula_stress_test.xlsx.0.csv"},
        Case{"sheetjs/formula_stress_test.xls", "", "sheetjs/2011_formula_stress_test.xlsx.0.csv"},
        Case{"sheetjs/formula_stress_test.ods", "", "sheetjs/2011_formula_stress_test.xlsx.0.csv"}),
    CaseName);

// Every real workbook converts: one non-empty text file, no message.
TEST(RealWorkbooksTest, EveryWorkbookConverts) {
  const std::string root = sheet_test::RealWorkbooksDir();
  if (root.empty()) GTEST_SKIP() << "no real workbooks at " << TANKLOAD_SHARED_FIXTURES;
  sheet::RegisterNativeEngine();
  TempDir dir;
  int converted = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".xls" && ext != ".xlsx" && ext != ".xlsm" && ext != ".ods") continue;
    SCOPED_TRACE(entry.path().string());
    RecordingSink sink;
    const std::string text = dir.File("out" + std::to_string(converted++) + ".txt");
    EXPECT_EQ(SaveSheetAsText(entry.path().string(), "", text), text);
    EXPECT_EQ(sink.messages, std::vector<std::string>{});
    EXPECT_GT(std::filesystem::file_size(text), 0u);
  }
  EXPECT_GT(converted, 0);
}

}  // namespace
