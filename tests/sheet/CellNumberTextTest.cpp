// Numbers in the text save are written from their shortest round-trip digits; they must
// read exactly as platform::FloatToStrGeneral writes them, in either decimal separator.
// Rows whose cells come back to an earlier column keep the last value of each column.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "SheetTestSupport.h"
#include "platform/FormatSettings.h"
#include "platform/NumberFormat.h"
#include "sheet/TextWriter.h"

namespace {

using sheet::Cell;

std::string NumberText(double v) { return sheet::CellText({Cell::Kind::Number, v, {}}); }

TEST(CellNumberText, SameAsFloatToStrGeneral) {
  struct Case {
    const char* name;
    double value;
  };
  const Case cases[] = {
      {"zero", 0.0},
      {"negative zero", -0.0},
      {"integer", 1200},
      {"fraction", -12345.678},
      {"sum with a 17-digit repr", 0.1 + 0.2},
      {"15 digits", 3.14159265358979},
      {"16 digits", 3.141592653589793},
      {"largest 15-digit integer", 999999999999999.0},
      {"1e15: exponent form", 1e15},
      {"1e14: fixed", 1e14},
      {"just below 1e15 after rounding", 999999999999999.9},
      {"0.0001: fixed", 0.0001},
      {"0.00001: exponent form", 0.00001},
      {"small with digits", -1.2345e-7},
      {"large", 6.02214076e23},
      {"three-digit exponent", 1e300},
      {"negative three-digit exponent", -2.5e-300},
      {"smallest subnormal", 5e-324},
      {"largest double", DBL_MAX},
      {"smallest normal", DBL_MIN},
      {"tank volume", 123.456},
      {"round to ten", 10.0},
      {"tenth", 0.1},
  };
  for (const auto& settings : {platform::UsFormatSettings(), platform::RussianFormatSettings()}) {
    platform::ScopedFormatSettings scoped(settings);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(NumberText(c.value), platform::FloatToStrGeneral(c.value));
    }
  }
}

TEST(CellNumberText, SameAsFloatToStrGeneralForRandomValues) {
  platform::ScopedFormatSettings scoped(platform::RussianFormatSettings());
  std::mt19937_64 random(20240611);
  std::uniform_int_distribution<int> exponent(-30, 30);
  std::uniform_int_distribution<int> digits(1, 17);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> decimals(0, 10);
  std::uniform_real_distribution<double> whole(-1e9, 1e9);
  for (int i = 0; i < 20000; ++i) {
    // Values of any size and digits, and values with a few decimals as sheets hold them.
    const double scale = std::pow(10.0, exponent(random));
    const double places = std::pow(10.0, digits(random));
    const double value = std::round(mantissa(random) * places) / places * scale;
    ASSERT_EQ(NumberText(value), platform::FloatToStrGeneral(value)) << value;
    const double unit = std::pow(10.0, decimals(random));
    const double sheetValue = std::round(whole(random) / scale * unit) / unit;
    ASSERT_EQ(NumberText(sheetValue), platform::FloatToStrGeneral(sheetValue)) << sheetValue;
  }
}

TEST(CellNumberText, RowComingBackToAnEarlierColumn) {
  struct Placed {
    std::uint32_t column;
    Cell cell;
  };
  class RowReader : public sheet::WorkbookReader {
   public:
    explicit RowReader(std::vector<Placed> cells) : cells_(std::move(cells)) {}
    std::vector<std::string> SheetNames() const override { return {"S"}; }
    void ReadSheet(std::size_t, sheet::CellSink& sink) override {
      for (const auto& p : cells_) sink.OnCell(0, p.column, p.cell);
      sink.OnCell(1, 1, {Cell::Kind::Text, 0, "next"});
    }

   private:
    std::vector<Placed> cells_;
  };
  const Cell a{Cell::Kind::Text, 0, "a"};
  const Cell b{Cell::Kind::Text, 0, "b"};
  const Cell d{Cell::Kind::Text, 0, "d"};
  const Cell two{Cell::Kind::Number, 2, {}};
  const Cell empty{Cell::Kind::Text, 0, ""};
  struct Case {
    const char* name;
    std::vector<Placed> cells;
    std::string expected;
  };
  const Case cases[] = {
      {"a gap filled later", {{0, a}, {3, d}, {1, b}}, "a\tb\t\td\r\n\tnext\r\n"},
      {"the same column again: the last value", {{0, a}, {2, d}, {2, two}}, "a\t\t2\r\n\tnext\r\n"},
      {"an empty cell leaves the value", {{0, a}, {1, b}, {0, empty}}, "a\tb\r\n\tnext\r\n"},
      {"first column last", {{4, d}, {0, a}}, "a\t\t\t\td\r\n\tnext\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sheet_test::TempDir dir;
    RowReader reader(c.cells);
    sheet::WriteSheetAsText(reader, 0, dir.File("out.txt"));
    EXPECT_EQ(sheet_test::ReadFile(dir.File("out.txt")), c.expected);
  }
}

}  // namespace
