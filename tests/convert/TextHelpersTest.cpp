#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "convert/Smallfun.h"
#include "TestSupport.h"

TEST(FldList_Prepare, EnclosesEveryNameInSemicolons) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {"", ""},
      {" \t ", ""},
      {"tank", ";TANK;"},
      {"Объём", ";ОБЪЁМ;"},
      {"a,b", ";A;B;"},
      {"Tank, Volume", ";TANK;;VOLUME;"},
      {" Tank ", ";TANK;"},
      {"x1_y", ";X1_Y;"},
      {"$&@`~^", ";$&@`~^;"},
      {"a.b-c/d", ";A;B;C;D;"},
      {"ёлка", ";ЁЛКА;"},
      {"straße", ";STRA;E;"},
      {"Ünit", ";;NIT;"},
      {"a中b", ";A;B;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(FldList_Prepare(c.input), c.expected);
  }
}

TEST(CharReplace, ByCharacter) {
  struct Case {
    const char* name;
    std::string text;
    char find, replacement;
    std::string expected;
  } cases[] = {
      {"drop with NUL", "abc", 'b', '\0', "ac"},
      {"empty text", "", 'b', 'x', ""},
      {"tab to line feed", "x\t\ty\t", '\t', '\n', "x\n\ny\n"},
      {"comma to point", "1,5", ',', '.', "1.5"},
      {"stops at NUL", std::string("a,b\0,c", 6), ',', ';', "a;b"},
      {"UTF-8 text untouched", "Объём,5", ',', '.', "Объём.5"},
      {"nothing to replace", "abc", 'z', 'y', "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CharReplace(c.text, c.find, c.replacement), c.expected);
  }
}

TEST(CharReplace, ByString) {
  struct Case {
    const char* name;
    std::string text;
    char find;
    std::string replacement;
    std::string expected;
  } cases[] = {
      {"double quotes", "O'Brien", '\'', "''", "O''Brien"},
      {"empty replacement deletes", "O'Brien", '\'', "", "OBrien"},
      {"one character", "O'Brien", '\'', "x", "OxBrien"},
      {"empty text", "", '\'', "''", ""},
      {"stops at NUL", std::string("a'\0'", 4), '\'', "''", "a''"},
      {"several", "''", '\'', "\\'", "\\'\\'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CharReplace(c.text, c.find, c.replacement), c.expected);
  }
}

TEST(ListToStrWithSep, FromAList) {
  TStringList list;
  for (const char* item : {" a ", "", "  ", "b"}) list.Add(item);
  struct Case {
    const char* name;
    const TStrings* list;
    const char* separator;
    bool trim;
    std::string expected;
  } cases[] = {
      {"null list", nullptr, ",", true, ""},
      {"trimmed, blanks skipped", &list, ",", true, "a,b"},
      {"untrimmed, blanks kept", &list, ",", false, " a ,,  ,b"},
      {"longer separator", &list, ", ", true, "a, b"},
      {"empty separator", &list, "", true, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ListToStrWithSep(c.list, c.separator, c.trim), c.expected);
  }
  TStringList empty;
  EXPECT_EQ(ListToStrWithSep(&empty, ",", false), "");
}

TEST(ListToStrWithSep, FromAText) {
  struct Case {
    const char* name;
    std::string text;
    bool trim;
    std::string expected;
  } cases[] = {
      {"blank line skipped", "a\r\n\r\nb", true, "a,b"},
      {"blank line kept", "a\n\nb", false, "a,,b"},
      {"final break adds nothing", "a\nb\n", false, "a,b"},
      {"lone CR", "a\rb", true, "a,b"},
      {"empty text", "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ListToStrWithSep(c.text, ",", c.trim), c.expected);
  }
}

TEST(FindTextA, PositionsFromOne) {
  struct Case {
    const char* name;
    std::string text, find;
    int start;
    bool ignoreCase;
    int expected;
  } cases[] = {
      {"from 3", "abcabc", "bc", 3, false, 5},
      {"from 0", "abcabc", "bc", 0, false, 2},
      {"negative start", "abcabc", "bc", -4, false, 2},
      {"from the length", "abcabc", "bc", 6, false, 0},
      {"beyond the length", "abcabc", "c", 60, false, 0},
      {"from the last but one", "abcabc", "bc", 5, false, 5},
      {"ignore case", "abcabc", "BC", 1, true, 2},
      {"case matters", "abcabc", "BC", 1, false, 0},
      {"empty text", "", "a", 1, false, 0},
      {"empty find", "abc", "", 1, false, 0},
      {"not found", "abc", "x", 1, false, 0},
      {"Cyrillic positions count characters", "ёжик ёж", "ёж", 2, false, 6},
      {"Cyrillic ignoring case", "Объём ОБЪЁМ", "объём", 2, true, 7},
      {"Cyrillic length is in characters", "жжж", "ж", 3, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FindTextA(c.text, c.find, c.start, c.ignoreCase), c.expected);
  }
}

TEST(VKey_ToChar, UsLayoutWithoutModifiers) {
  struct Case {
    std::uint16_t key;
    char expected;
  } cases[] = {
      {'A', 'a'},   {'Z', 'z'},    {'0', '0'},     {'9', '9'},   {0x20, ' '},  {0x0D, '\r'},
      {0x09, '\t'}, {0x08, '\b'},  {0x1B, '\x1B'}, {0x60, '0'},  {0x69, '9'},  {0x6A, '*'},
      {0x6B, '+'},  {0x6D, '-'},   {0x6E, '.'},    {0x6F, '/'},  {0xBA, ';'},  {0xBB, '='},
      {0xBC, ','},  {0xBD, '-'},   {0xBE, '.'},    {0xBF, '/'},  {0xC0, '`'},  {0xDB, '['},
      {0xDC, '\\'}, {0xDD, ']'},   {0xDE, '\''},   {0x10, '\0'}, {0x25, '\0'}, {0x70, '\0'},
      {0x2E, '\0'}, {0x100, '\0'}, {0xFFFF, '\0'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(VKey_ToChar(c.key), c.expected);
  }
}

TEST(IntegerHelpers, MinMaxLimit) {
  struct Case {
    int a, b, c;
    int limit;
  } cases[] = {
      {5, 0, 10, 5}, {0, 5, 10, 5},   {20, 5, 10, 10},  {5, 10, 3, 3},
      {5, 5, 5, 5},  {10, 0, 10, 10}, {-3, -5, -1, -3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.a << "," << c.b << "," << c.c);
    EXPECT_EQ(LimitI(c.a, c.b, c.c), c.limit);
  }
  EXPECT_EQ(MinI(3, -2), -2);
  EXPECT_EQ(MinI(-2, 3), -2);
  EXPECT_EQ(MaxI(3, -2), 3);
  EXPECT_EQ(MaxI(-2, 3), 3);
}

TEST(ZnRound, NearestMultipleHalvesAwayFromZero) {
  struct Case {
    double value, step, expected;
  } cases[] = {
      {2.5, 1, 3},    {-2.5, 1, -3},    {2.4, 1, 2},     {7, 5, 5},
      {7.5, 5, 10},   {13, -5, 15},     {0, 5, 0},       {12.3, 0, 12.3},
      {-7.5, 5, -10}, {1.26, 0.5, 1.5}, {-0.3, 1, -0.0}, {1e30, 1, 1e30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.value << " by " << c.step);
    EXPECT_EQ(ZnRound(c.value, c.step), c.expected);
  }
}

TEST(ZnLocalDateTimeToGMT, AddsTheStandardBias) {
  {
    testsupport::ScopedEnv tz("TZ", "MSK-3");
    EXPECT_DOUBLE_EQ(ZnLocalDateTimeToGMT(37980.5), 37980.375);  // 12:00 -> 09:00
  }
  {
    testsupport::ScopedEnv tz("TZ", "EST5EDT");  // summer time plays no part
    EXPECT_DOUBLE_EQ(ZnLocalDateTimeToGMT(37800.5), 37800.5 + 5.0 / 24);
  }
  {
    testsupport::ScopedEnv tz("TZ", "UTC0");
    EXPECT_EQ(ZnLocalDateTimeToGMT(1.25), 1.25);
  }
}

TEST(TWaitCursor, ShowsTheHourglassAndRestoresInReverseOrder) {
  std::vector<TCursor> seen;
  Screen->SetCursor(5);
  Screen->SetCursorListener([&](TCursor c) { seen.push_back(c); });
  {
    TWaitCursor outer;
    EXPECT_EQ(Screen->Cursor(), crHourGlass);
    Screen->SetCursor(7);
    {
      TWaitCursor inner;
      EXPECT_EQ(Screen->Cursor(), crHourGlass);
    }
    EXPECT_EQ(Screen->Cursor(), 7);
  }
  EXPECT_EQ(Screen->Cursor(), 5);
  EXPECT_EQ(seen, (std::vector<TCursor>{crHourGlass, 7, crHourGlass, 7, 5}));
  Screen->SetCursorListener(nullptr);
  Screen->SetCursor(crDefault);
}

TEST(TWaitCursor, RestoresWhenTheGuardedOperationRaises) {
  Screen->SetCursor(crDefault);
  try {
    TWaitCursor wait;
    throw std::runtime_error("import failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Screen->Cursor(), crDefault);
}
