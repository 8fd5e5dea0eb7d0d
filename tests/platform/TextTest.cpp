#include <gtest/gtest.h>

#include <string>

#include "platform/Ascii.h"
#include "platform/Exception.h"
#include "platform/Text.h"

using namespace platform;

TEST(Trim, RemovesCodesUpTo32OnBothSides) {
  struct Case {
    const char* name;
    std::string input;
    std::string both, left, right;
  } cases[] = {
      {"empty", "", "", "", ""},
      {"blanks only", " \t\r\n", "", "", ""},
      {"control characters", std::string("\x01x\x1f", 3), "x", "x\x1f", "\x01x"},
      {"inner blanks kept", "  a b  ", "a b", "a b  ", "  a b"},
      {"NUL counts as blank", std::string("\0a\0", 3), "a", std::string("a\0", 2),
       std::string("\0a", 2)},
      {"Cyrillic untouched", " Объём ", "Объём", "Объём ", " Объём"},
      {"no-break space is no blank", "\u00A0x", "\u00A0x", "\u00A0x", "\u00A0x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Trim(c.input), c.both);
    EXPECT_EQ(TrimLeft(c.input), c.left);
    EXPECT_EQ(TrimRight(c.input), c.right);
    EXPECT_EQ(IsBlank(c.input), c.both.empty());
  }
}

TEST(CaseMapping, LatinLatin1AndCyrillic) {
  struct Case {
    const char* name;
    std::string lower, upper;
  } cases[] = {
      {"ASCII", "tank 12_a", "TANK 12_A"},
      {"Latin-1", "àéîõüçñøþ", "ÀÉÎÕÜÇÑØÞ"},
      {"Cyrillic", "объём танка", "ОБЪЁМ ТАНКА"},
      {"yo", "ёлка", "ЁЛКА"},
      {"Ukrainian and Serbian letters of 1251", "ґїєіўђџ", "ҐЇЄІЎЂЏ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UpperCase(c.lower), c.upper);
    EXPECT_EQ(LowerCase(c.upper), c.lower);
  }
}

TEST(CaseMapping, LeavesOtherCharactersAndMalformedBytesAlone) {
  struct Case {
    const char* name;
    std::string input, upper, lower;
  } cases[] = {
      {"signs", "1,5;$&@`~^", "1,5;$&@`~^", "1,5;$&@`~^"},
      {"sharp s has no one-letter capital", "ß", "ß", "ß"},
      {"multiplication and division signs", "×÷", "×÷", "×÷"},
      {"CJK", "中文", "中文", "中文"},
      {"stray 1251 byte kept", "\xC6x", "\xC6X", "\xC6x"},
      {"truncated sequence kept", "A\xD0", "A\xD0", "a\xD0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UpperCase(c.input), c.upper);
    EXPECT_EQ(LowerCase(c.input), c.lower);
  }
}

TEST(Ascii, TrimmingAndUpperCasingLeaveMultiByteCharactersAlone) {
  EXPECT_EQ(platform::TrimView(" \t\x01 a b\r\n"), "a b");
  EXPECT_EQ(platform::TrimView("\xD0\x81 "), "\xD0\x81");  // "Ё": its bytes are above 32
  EXPECT_EQ(platform::TrimView(" \x7F "), "\x7F");
  EXPECT_EQ(platform::TrimView(""), "");
  EXPECT_EQ(platform::AsciiUpper("Provider=sqlite; ёж z{"), "PROVIDER=SQLITE; ёж Z{");
}

TEST(Utf8, Validity) {
  struct Case {
    const char* name;
    std::string input;
    bool valid;
    std::size_t codePoints;
  } cases[] = {
      {"ASCII", "abc", true, 3},
      {"two-byte", "Ёж", true, 2},
      {"four-byte", "\xF0\x9F\x98\x80", true, 1},
      {"replacement character itself", "\xEF\xBF\xBD", true, 1},
      {"lone continuation byte", "\x80", false, 1},
      {"overlong slash", "\xC0\xAF", false, 2},
      {"surrogate", "\xED\xA0\x80", false, 3},
      {"truncated", "\xE2\x82", false, 2},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, 4},
      {"1251 text", "\xCE\xE1\xFA\xB8\xEC", false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsValidUtf8(c.input), c.valid);
    EXPECT_EQ(CodePointCount(c.input), c.codePoints);
  }
}

// The validator takes the eight-bytes-at-a-time path over ASCII runs; it must accept
// exactly the sequences the decoder accepts, wherever they start.
TEST(Utf8, ValidityAgreesWithTheDecoder) {
  const auto decodes = [](std::string_view s) {
    std::size_t pos = 0;
    while (pos < s.size()) {
      const std::size_t start = pos;
      if (DecodeUtf8(s, pos) == 0xFFFD && pos - start == 1) return false;
    }
    return true;
  };
  for (const std::string prefix : {"", "abcdefghi"}) {
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
      for (int second = 0; second <= 0xFF; ++second) {
        for (const std::string tail : {"", "\x80", "\x80\xBF"}) {
          std::string s = prefix;
          s += static_cast<char>(lead);
          s += static_cast<char>(second);
          s += tail;
          ASSERT_EQ(IsValidUtf8(s), decodes(s))
              << prefix.size() << " " << lead << " " << second << " " << tail.size();
        }
      }
    }
  }
}

TEST(Windows1251, EveryByteSurvivesARoundTrip) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string byte(1, static_cast<char>(b));
    const std::string utf8 = Win1251ToUtf8(byte);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_EQ(Utf8ToWin1251(utf8), byte);
    EXPECT_EQ(CharToWin1251(Win1251ToChar(static_cast<unsigned char>(b))), b);
  }
}

TEST(Windows1251, KnownCharacters) {
  struct Case {
    const char* name;
    std::string bytes, utf8;
  } cases[] = {
      {"capital zhe", "\xC6", "Ж"},
      {"capital yo", "\xA8", "Ё"},
      {"small yo", "\xB8", "ё"},
      {"numero sign", "\xB9", "№"},
      {"euro sign", "\x88", "€"},
      {"no-break space", "\xA0", "\u00A0"},
      {"word", "\xCE\xE1\xFA\xB8\xEC", "Объём"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Win1251ToUtf8(c.bytes), c.utf8);
    EXPECT_EQ(Utf8ToWin1251(c.utf8), c.bytes);
  }
  EXPECT_EQ(Utf8ToWin1251("a中b"), "a?b");
  EXPECT_EQ(Utf8ToWin1251("中", '_'), "_");
  EXPECT_EQ(CharToWin1251(U'中'), -1);
}

TEST(Utf16, SurrogatePairsAndLoneSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"Aж\U0001F600"), "Aж\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToUtf16("Aж\xF0\x9F\x98\x80"), u"Aж\U0001F600");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(Utf16ToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(DecodeText, RecognisesEncodings) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
    TextEncoding encoding;
  } cases[] = {
      {"empty", "", "", TextEncoding::Utf8},
      {"plain UTF-8", "Танк\t1,5\r\n", "Танк\t1,5\r\n", TextEncoding::Utf8},
      {"UTF-8 with BOM", "\xEF\xBB\xBFТанк", "Танк", TextEncoding::Utf8Bom},
      {"UTF-16 LE", std::string("\xFF\xFE\x22\x04\x30\x04\n\0", 8), "Та\n", TextEncoding::Utf16LE},
      {"UTF-16 BE", std::string("\xFE\xFF\x04\x22\x04\x30", 6), "Та", TextEncoding::Utf16BE},
      {"UTF-16 LE odd last byte",
       std::string("\xFF\xFE"
                   "A\0B",
                   5),
       "A\xEF\xBF\xBD", TextEncoding::Utf16LE},
      {"Windows-1251", "\xD2\xE0\xED\xEA\t1,5", "Танк\t1,5", TextEncoding::Windows1251},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextEncoding detected = TextEncoding::Windows1251;
    EXPECT_EQ(DecodeText(c.bytes, &detected, "f.txt"), c.text);
    EXPECT_EQ(detected, c.encoding);
  }
}

TEST(DecodeText, NotValidUtf8IsDecodedLineByLine) {
  // A line that is valid UTF-8 with a character above ASCII stays UTF-8; every other line
  // is Windows-1251. Only lines with bytes above ASCII are counted.
  struct Case {
    const char* name;
    std::string bytes;
    std::string text;
    TextEncoding encoding;
    std::size_t utf8Lines;
    std::size_t win1251Lines;
  } cases[] = {
      {"pure Windows-1251", "\xD2\xE0\xED\xEA\r\n1\r\n\xC1\xE0\xEA\r\n", "Танк\r\n1\r\nБак\r\n",
       TextEncoding::Windows1251, 0, 2},
      {"pure UTF-8", "Танк\r\n1\r\nБак\r\n", "Танк\r\n1\r\nБак\r\n", TextEncoding::Utf8, 0, 0},
      {"mixed, CR LF", "Танк\t1,5\r\n\xC1\xE0\xEA\t2\r\nascii\r\n\xC1\r\n",
       "Танк\t1,5\r\nБак\t2\r\nascii\r\nБ\r\n", TextEncoding::Mixed, 1, 2},
      {"mixed, lone CR and LF", "\xC1\rЖ\n\xC1", "Б\rЖ\nБ", TextEncoding::Mixed, 1, 2},
      {"a truncated UTF-8 sequence makes the line Windows-1251", "Жук\n\xD0\x96\xD0", "Жук\nР–Р",
       TextEncoding::Mixed, 1, 1},
      {"UTF-8 BOM, then mixed lines", "\xEF\xBB\xBFТанк\n\xC1\xE0\xEA", "Танк\nБак",
       TextEncoding::Mixed, 1, 1},
      {"UTF-8 BOM, then Windows-1251 only", "\xEF\xBB\xBF\xC1\xE0\xEA", "Бак",
       TextEncoding::Windows1251, 0, 1},
      {"U+FEFF inside a cell of a UTF-8 file",
       "a\t\xEF\xBB\xBF"
       "b\n\xEF\xBB\xBF",
       "a\t\xEF\xBB\xBF"
       "b\n\xEF\xBB\xBF",
       TextEncoding::Utf8, 0, 0},
      {"U+FEFF at the start of a later line after a BOM",
       "\xEF\xBB\xBF"
       "a\n\xEF\xBB\xBF"
       "b",
       "a\n\xEF\xBB\xBF"
       "b",
       TextEncoding::Utf8Bom, 0, 0},
      {"U+FEFF inside a cell of a mixed file", "\xC1\n\t\xEF\xBB\xBFЖ", "Б\n\t\xEF\xBB\xBFЖ",
       TextEncoding::Mixed, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextDecoding decoding;
    decoding.utf8Lines = 99;  // stale figures are reset
    EXPECT_EQ(DecodeText(c.bytes, decoding, "f.txt"), c.text);
    EXPECT_EQ(decoding.encoding, c.encoding);
    EXPECT_EQ(decoding.utf8Lines, c.utf8Lines);
    EXPECT_EQ(decoding.win1251Lines, c.win1251Lines);
    EXPECT_EQ(decoding.Mixed(), c.encoding == TextEncoding::Mixed);
  }
}

TEST(DecodeText, RefusesNulBytesOutsideUtf16) {
  // Cutting the text at the first NUL would lose the rest of the file silently.
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"UTF-8 with NUL", std::string("a\tb\r\n\0c\td\r\n", 11)},
      {"UTF-8 BOM with NUL", std::string("\xEF\xBB\xBF"
                                         "a\0b",
                                         6)},
      {"1251 with NUL", std::string("\xD2\0\xE0", 3)},
      {"UTF-16 holding U+0000", std::string("\xFF\xFE"
                                            "a\0\0\0b\0",
                                            8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      DecodeText(c.bytes, nullptr, "/data/svod.txt");
      ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
      EXPECT_NE(std::string(e.what()).find("/data/svod.txt"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("NUL"), std::string::npos) << e.what();
    }
  }
}
