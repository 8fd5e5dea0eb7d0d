// Workbook dates as every reader shows them: the same cases written as an .xls, an .xlsx
// and an .ods file, in both date systems where the format has them, give the same text.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "platform/FormatSettings.h"
#include "sheet/DateSerial.h"
#include "sheet/TextWriter.h"
#include "sheet/Workbook.h"
#include "tests/support/TestSupport.h"

namespace {

// The cells of a sheet as the text save shows them, by row (column A only).
class TextSink : public sheet::CellSink {
 public:
  void OnCell(std::uint32_t row, std::uint32_t column, const sheet::Cell& cell) override {
    if (column == 0) texts[row] = sheet::CellText(cell);
  }
  std::map<std::uint32_t, std::string> texts;
};

std::map<std::uint32_t, std::string> ReadTexts(const std::string& name) {
  auto reader = sheet::OpenWorkbook(testsupport::SourcePath("tests/sheet/data/" + name));
  TextSink sink;
  reader->ReadSheet(0, sink);
  return sink.texts;
}

// One row per case, in the order of the generators (SAME_DATES in tests/sheet/data/*/).
struct DateCase {
  const char* name;
  const char* text;  // with Russian regional settings
  bool in1904;       // also in the 1904 workbooks (the 1904 system starts in 1904)
};

const DateCase kDateCases[] = {
    {"serial 1 is 1 January 1900", "01.01.1900", false},
    {"serial 59 is the day before the phantom 29 February", "28.02.1900", false},
    {"serial 61 is 1 March 1900", "01.03.1900", false},
    {"a date and time", "15.03.2023 18:00:00", true},
    {"the first day of the 1904 system", "01.01.1904", true},
    {"a time of day alone", "12:00:00", false},
    {"a duration of 36 hours is not moved by the date system", "31.12.1899 12:00:00", true},
};

TEST(DateSerial, EveryReaderShowsTheSameDates) {
  platform::ScopedFormatSettings scoped(platform::RussianFormatSettings());
  const std::pair<const char*, bool> files[] = {
      {"xls/same_dates.xls", false},       {"xlsx/same_dates.xlsx", false},
      {"ods/same_dates.ods", false},       {"xls/same_dates_1904.xls", true},
      {"xlsx/same_dates_1904.xlsx", true},
  };
  for (const auto& [file, date1904] : files) {
    const auto texts = ReadTexts(file);
    for (std::uint32_t row = 0; row < std::size(kDateCases); ++row) {
      const DateCase& c = kDateCases[row];
      SCOPED_TRACE(std::string(file) + ": " + c.name);
      const auto text = texts.find(row);
      if (date1904 && !c.in1904) {
        EXPECT_EQ(text, texts.end());
      } else {
        ASSERT_NE(text, texts.end());
        EXPECT_EQ(text->second, c.text);
      }
    }
  }
}

TEST(DateSerial, SerialsOfBothDateSystems) {
  struct Case {
    double serial;
    bool date1904;
    double expected;
  };
  const Case cases[] = {
      {0.5, false, 0.5},   {1, false, 2},
      {59.5, false, 60.5}, {60, false, 60},
      {61, false, 61},     {45000.25, false, 45000.25},
      {0, true, 1462},     {43538.75, true, 45000.75},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.serial) + (c.date1904 ? " (1904)" : " (1900)"));
    EXPECT_EQ(sheet::SerialToDateTime(c.serial, c.date1904), c.expected);
  }
}

TEST(DateSerial, KindsOfFormatCodes) {
  using sheet::FormatKind;
  const std::pair<const char*, FormatKind> cases[] = {
      {"General", FormatKind::Number},       {"dd.mm.yyyy", FormatKind::Calendar},
      {"h:mm AM/PM", FormatKind::Calendar},  {"[h]:mm", FormatKind::Duration},
      {"d [h]:mm", FormatKind::Duration},    {"\"[h]\" 0", FormatKind::Number},
      {"[Red]0.00", FormatKind::Number},     {"[$-419]d mmm", FormatKind::Calendar},
      {"0.00 \"days\"", FormatKind::Number}, {"[h", FormatKind::Number},
  };
  for (const auto& [code, kind] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(sheet::KindOfFormatCode(code), kind);
  }
}

}  // namespace
