#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/FormatSettings.h"
#include "platform/Ui.h"
#include "platform/Variant.h"

TEST(FormatSettings, Presets) {
  const TFormatSettings us = platform::UsFormatSettings();
  EXPECT_EQ(us.DecimalSeparator, '.');
  EXPECT_EQ(us.ShortDateFormat, "M/d/yyyy");
  EXPECT_EQ(us.LongMonthNames[11], "December");
  EXPECT_EQ(us.ShortDayNames[0], "Sun");
  const TFormatSettings ru = platform::RussianFormatSettings();
  EXPECT_EQ(ru.DecimalSeparator, ',');
  EXPECT_EQ(ru.DateSeparator, '.');
  EXPECT_EQ(ru.ThousandSeparator, "\u00A0");
  EXPECT_EQ(ru.ShortDateFormat, "dd.MM.yyyy");
}

TEST(FormatSettings, UnknownOrPlainLocalesGiveTheUsSettings) {
  for (const char* name : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {
    SCOPED_TRACE(name);
    const TFormatSettings fs = platform::FormatSettingsFromLocale(name);
    EXPECT_EQ(fs.DecimalSeparator, '.');
    EXPECT_EQ(fs.ShortDateFormat, "M/d/yyyy");
  }
}

TEST(FormatSettings, ScopedReplacementIsUndone) {
  const char before = FormatSettings.DecimalSeparator;
  {
    TFormatSettings comma = platform::RussianFormatSettings();
    comma.DecimalSeparator = before == ',' ? ';' : ',';
    platform::ScopedFormatSettings scope(comma);
    EXPECT_EQ(FormatSettings.DecimalSeparator, comma.DecimalSeparator);
  }
  EXPECT_EQ(FormatSettings.DecimalSeparator, before);
}

namespace {
struct Thing : IDispatch {};
}  // namespace

TEST(Variant, EqualityIsSameTypeAndEqualValue) {
  auto thing = std::make_shared<Thing>();
  struct Case {
    const char* name;
    Variant a, b;
    bool equal;
  } cases[] = {
      {"integers", Variant::Integer(7), Variant(7), true},
      {"different integers", Variant::Integer(7), Variant::Integer(8), false},
      {"integer and double of one value", Variant::Integer(0), Variant::Double(0), false},
      {"smallint and integer", Variant::Smallint(1), Variant::Integer(1), false},
      {"doubles", Variant(1.5), Variant::Double(1.5), true},
      {"date and double", Variant::Date(1.5), Variant::Double(1.5), false},
      {"strings byte for byte", Variant("O'Brien"), Variant(std::string("O'Brien")), true},
      {"strings differ in a blank", Variant("a"), Variant("a "), false},
      {"string and OLE string", Variant("a"), Variant::OleStr("a"), false},
      {"nulls", Variant::Null(), Variant::Null(), true},
      {"null and empty", Variant::Null(), Variant(), false},
      {"booleans", Variant(true), Variant::Boolean(true), true},
      {"byte and short int", Variant::Byte(65), Variant::ShortInt(65), false},
      {"currency rounded to four decimals", Variant::Currency(1.23456), Variant::Currency(1.2346),
       true},
      {"same object", Variant(std::shared_ptr<IDispatch>(thing)),
       Variant::Dispatch(std::shared_ptr<IDispatch>(thing)), true},
      {"array flag kept", Variant::Raw(varArray | varInteger), Variant::Raw(varInteger), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.equal);
  }
  EXPECT_EQ(Variant::Boolean(true).IntValue(), -1);
  EXPECT_EQ(Variant::Currency(1.23456).DoubleValue(), 1.2346);
  EXPECT_EQ(Variant::Raw(varByRef | varDouble).VType(), varByRef | varDouble);
}

TEST(Screen, CursorChangesReachTheListener) {
  std::vector<TCursor> seen;
  TScreen screen;
  screen.SetCursorListener([&](TCursor c) { seen.push_back(c); });
  screen.SetCursor(crHourGlass);
  screen.SetCursor(crDefault);
  EXPECT_EQ(seen, (std::vector<TCursor>{crHourGlass, crDefault}));
  EXPECT_EQ(screen.Cursor(), crDefault);
}

TEST(ShowMessage, GoesToTheInstalledSink) {
  struct Sink : platform::MessageSink {
    std::vector<std::string> texts;
    void ShowMessage(const std::string& text) override { texts.push_back(text); }
  } sink;
  platform::MessageSink* previous = platform::SetMessageSink(&sink);
  platform::ShowMessage("Файл не найден");
  EXPECT_EQ(platform::SetMessageSink(previous), &sink);
  EXPECT_EQ(sink.texts, std::vector<std::string>{"Файл не найден"});
}
