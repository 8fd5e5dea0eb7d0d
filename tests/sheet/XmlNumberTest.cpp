// Numbers as workbook files write them: the quick path for short decimals must give the
// very double that a full conversion gives, and refuse what it refused.

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "sheet/XmlText.h"

namespace {

// The full conversion, bit for bit (so that -0 and 0 differ).
std::optional<std::uint64_t> FullBits(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::optional<std::uint64_t> ParsedBits(const std::string& text) {
  const auto value = sheet::ParseXmlNumber(text);
  if (!value) return std::nullopt;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &*value, sizeof bits);
  return bits;
}

TEST(XmlNumber, ShortDecimalsAsTheFullConversionReadsThem) {
  const char* const cases[] = {
      "0",
      "-0",
      "0.0",
      "-0.0",
      "12",
      "10.5882",
      "-12.5",
      "0.1",
      "0.3",
      "123456789012345",
      "1.5E3",
      "1e-7",
      "00000000000000000001.25",
      "999999999999999.9",
      "0.000001",
      "3.14159265358979",
      "3.141592653589793",
      "1234567890123456789",
  };
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    EXPECT_EQ(ParsedBits(c), FullBits(c));
  }
}

TEST(XmlNumber, RandomDecimals) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int> length(1, 18);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int i = 0; i < 50000; ++i) {
    std::string text = random() % 4 == 0 ? "-" : "";
    const int whole = length(random);
    for (int k = 0; k < whole; ++k) text += static_cast<char>('0' + digit(random));
    if (random() % 3 != 0) {
      text += '.';
      const int fraction = length(random);
      for (int k = 0; k < fraction; ++k) text += static_cast<char>('0' + digit(random));
    }
    ASSERT_EQ(ParsedBits(text), FullBits(text)) << text;
  }
}

TEST(XmlNumber, RefusesWhatIsNotANumber) {
  const char* const cases[] = {"",    "-",   ".",  "1.2.3", "1,5", "inf",
                               "nan", "--1", "1e", "++1",   "0x10"};
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    EXPECT_EQ(sheet::ParseXmlNumber(c), std::nullopt);
  }
}

}  // namespace
