// The quick ways of reading and writing numbers must give exactly what the slow exact
// ways give. Randomised with fixed seeds against references of our own: the digits of
// FormatFixed against the full decimal expansion of the binary value, rounded by hand to
// 18 significant digits and then to the decimals shown;
// TryStrToFloat against std::from_chars.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/NumberFormat.h"
#include "TestSupport.h"

namespace {

using testsupport::CommaLocale;
using testsupport::PointLocale;

// Adds one to the last digit of `digits`; a carry past the first digit puts a 1 in front
// and returns true.
bool IncrementDigits(std::string& digits) {
  std::size_t i = digits.size();
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i == 0) {
    digits.insert(digits.begin(), '1');
    return true;
  }
  ++digits[i - 1];
  return false;
}

// |value| in fixed notation with `decimals` decimals as the number patterns write it,
// from the exact decimal expansion of the double (as many decimals as it has binary
// fraction digits): below 1E18 it is first rounded to 18 significant digits (to the
// nearest, an exact tie to the even digit), then cut after `decimals` and rounded up
// when the first dropped digit is 5 or more (a half away from zero). No sign on a result
// of zero.
std::string ExactFixed(double value, int decimals, char separator) {
  int exponent = 0;
  std::frexp(value, &exponent);
  const int fractionBits = std::max(0, 53 - exponent);
  const int precision = std::max(fractionBits, decimals + 1);
  std::string buf(static_cast<std::size_t>(precision) + 400, '\0');
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                               std::chars_format::fixed, precision);
  const std::string expansion(buf.data(), r.ptr);
  const std::size_t point = expansion.find('.');
  std::size_t wholeDigits = point;
  std::string digits = expansion.substr(0, point) + expansion.substr(point + 1);
  const std::size_t first = digits.find_first_not_of('0');
  if (std::fabs(value) < 1e18 && first != std::string::npos && first + 18 < digits.size()) {
    const std::size_t cut = first + 18;
    const bool rest = digits.find_first_not_of('0', cut + 1) != std::string::npos;
    const bool up =
        digits[cut] > '5' || (digits[cut] == '5' && (rest || (digits[cut - 1] - '0') % 2 == 1));
    std::string kept = digits.substr(0, cut);
    if (up && IncrementDigits(kept)) ++wholeDigits;
    digits = kept + std::string(digits.size() - cut, '0');
  }
  std::string kept = digits.substr(0, wholeDigits + static_cast<std::size_t>(decimals));
  if (digits[wholeDigits + static_cast<std::size_t>(decimals)] >= '5' && IncrementDigits(kept)) {
    ++wholeDigits;
  }
  std::string out = kept.substr(0, wholeDigits);
  if (decimals > 0) {
    out.push_back(separator);
    out += kept.substr(wholeDigits);
  }
  const bool zero = kept.find_first_not_of('0') == std::string::npos;
  if (value < 0 && !zero) out.insert(out.begin(), '-');
  return out;
}

std::string Fixed(double value, int decimals, char separator) {
  char buf[400];
  char* end = platform::FormatFixed(buf, buf + sizeof buf, value, decimals, separator);
  return end ? std::string(buf, end) : std::string("<refused>");
}

// Values of every kind that matters for rounding at `decimals` decimals.
std::vector<double> ValuesToFormat(std::mt19937_64& rng, int decimals) {
  std::vector<double> out;
  std::uniform_int_distribution<std::int64_t> units(-3000000000LL, 3000000000LL);
  std::uniform_int_distribution<int> places(0, 9);
  std::uniform_int_distribution<int> ulps(-3, 3);
  std::uniform_real_distribution<double> logMagnitude(-12.0, 17.0);
  std::uniform_int_distribution<std::uint64_t> bits;
  const double scale = std::pow(10.0, decimals);
  for (int i = 0; i < 30000; ++i) {
    // Figures with a few decimals, as tables hold them, and their neighbours.
    const double decimal = static_cast<double>(units(rng)) / std::pow(10.0, places(rng));
    out.push_back(decimal);
    out.push_back(std::nextafter(decimal, ulps(rng) < 0 ? -1e300 : 1e300));
    // Near a half at the last decimal shown: the fast path must not guess there.
    const double half = (static_cast<double>(units(rng)) + 0.5) / scale;
    double near = half;
    const int steps = ulps(rng);
    for (int s = 0; s < std::abs(steps); ++s)
      near = std::nextafter(near, steps < 0 ? -1e300 : 1e300);
    out.push_back(near);
    // Binary fractions that lie exactly on a half.
    out.push_back(
        std::ldexp(static_cast<double>(units(rng) | 1), -(decimals + 1) - places(rng) % 3));
    // Any magnitude.
    const double any = std::pow(10.0, logMagnitude(rng));
    out.push_back((bits(rng) & 1) ? -any : any);
    // Any bit pattern of a finite double, now and then (most have long expansions).
    if (i % 8 == 0) {
      const double raw = std::bit_cast<double>(bits(rng));
      if (std::isfinite(raw)) out.push_back(raw);
    }
  }
  return out;
}

TEST(FormatFixedFastPath, SameDigitsAsTheRoundedExpansion) {
  std::mt19937_64 rng(20240611);
  for (int decimals : {7, 0, 2, 15}) {
    SCOPED_TRACE(decimals);
    int mismatches = 0;
    for (double v : ValuesToFormat(rng, decimals)) {
      const std::string expected = ExactFixed(v, decimals, '.');
      const std::string actual = Fixed(v, decimals, '.');
      if (actual != expected && ++mismatches <= 5) {
        ADD_FAILURE() << "value " << std::hexfloat << v << ": " << actual << " instead of "
                      << expected;
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(FormatFixedFastPath, Boundaries) {
  struct Case {
    const char* name;
    double value;
    int decimals;
    const char* expected;
  } cases[] = {
      {"fraction only", 0.0012345, 7, "0.0012345"},
      {"rounds up into the integer", 0.99999999, 7, "1.0000000"},
      {"carry through all nines", 999.99999996, 7, "1000.0000000"},
      {"negative rounding to zero", -0.00000004, 7, "0.0000000"},
      {"negative just not zero", -0.00000006, 7, "-0.0000001"},
      {"negative zero", -0.0, 7, "0.0000000"},
      {"exact half of a binary fraction", 0.00390625, 7, "0.0039063"},
      {"exact half, negative", -0.00390625, 7, "-0.0039063"},
      {"exact half without decimals", 0.5, 0, "1"},
      {"largest of the quick range", 112589990.6842623, 7, "112589990.6842623"},
      {"beyond the quick range", 1e15, 7, "1000000000000000.0000000"},
      {"below a half by one unit", 1.00499999999999989, 2, "1.00"},
      {"a hair below a half: 18 digits make it one", 1000.005, 2, "1000.01"},
      {"18 digits, then zeros", 0.1, 20, "0.10000000000000000600"},
      {"1E18 and more: every digit", 1152921504606846976.0, 1, "1152921504606846976.0"},
      {"decimal comma", -12.345, 3, "-12,345"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char separator = std::string(c.expected).find(',') == std::string::npos ? '.' : ',';
    EXPECT_EQ(Fixed(c.value, c.decimals, separator), c.expected);
    EXPECT_EQ(ExactFixed(c.value, c.decimals, separator), c.expected);
  }
}

TEST(FormatFixedFastPath, RefusesAsTheExactPathDoesWhenTheBufferIsShort) {
  // Room for the text itself is not enough: either path needs a few places to work in.
  char buf[12];
  EXPECT_EQ(platform::FormatFixed(buf, buf + 11, 12.5, 7, '.'), nullptr);
  char* end = platform::FormatFixed(buf, buf + sizeof buf, 1.5, 7, '.');
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(std::string(buf, end), "1.5000000");
}

// A random decimal text: up to 22 digits, a point somewhere or nowhere, perhaps an
// exponent, perhaps a sign.
std::string RandomNumberText(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> digitCount(1, 22);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> coin(0, 3);
  std::uniform_int_distribution<int> exponent(-340, 340);
  std::uniform_int_distribution<int> smallExponent(-25, 25);
  std::string text;
  if (coin(rng) == 0) text.push_back('-');
  const int count = digitCount(rng);
  std::uniform_int_distribution<int> pointAt(0, count + 3);
  const int point = pointAt(rng);
  for (int i = 0; i < count; ++i) {
    if (i == point) text.push_back('.');
    // Leading zeros now and then.
    text.push_back(static_cast<char>('0' + (i < 2 && coin(rng) == 0 ? 0 : digit(rng))));
  }
  if (point == count) text.push_back('.');
  switch (coin(rng)) {
    case 0:
      text += "e" + std::to_string(smallExponent(rng));
      break;
    case 1:
      if (coin(rng) == 0) text += "E" + std::to_string(exponent(rng));
      break;
    default:
      break;
  }
  return text;
}

TEST(TryStrToFloatFastPath, SameValueAsFromChars) {
  std::mt19937_64 rng(77);
  const TFormatSettings point = PointLocale();
  const TFormatSettings comma = CommaLocale();
  int mismatches = 0;
  for (int i = 0; i < 100000; ++i) {
    const std::string text = RandomNumberText(rng);
    double expected = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
    const bool expectedOk =
        r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(expected);
    std::string withComma = text;
    std::replace(withComma.begin(), withComma.end(), '.', ',');
    for (const auto& [input, fs] : {std::pair{text, point}, std::pair{withComma, comma}}) {
      double actual = -1;
      const bool ok = platform::TryStrToFloat(input, actual, fs);
      const bool same = ok == expectedOk && (!ok || std::bit_cast<std::uint64_t>(actual) ==
                                                        std::bit_cast<std::uint64_t>(expected));
      if (!same && ++mismatches <= 5) {
        ADD_FAILURE() << input << ": " << (ok ? "read" : "refused") << " " << actual
                      << ", expected " << (expectedOk ? "read" : "refused") << " " << expected;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(TryStrToFloatFastPath, EdgesOfTheQuickRange) {
  struct Case {
    const char* name;
    const char* input;
    double expected;
  } cases[] = {
      {"2^53 exactly", "9007199254740992", 9007199254740992.0},
      {"2^53 + 1 rounds to even", "9007199254740993", 9007199254740992.0},
      {"nineteen digits", "1234567890123456789", 1234567890123456789.0},
      {"twenty digits", "12345678901234567890", 12345678901234567890.0},
      {"largest exact power", "1e22", 1e22},
      {"beyond it", "1e23", 1e23},
      {"smallest exact power", "1e-22", 1e-22},
      {"beyond it below", "1e-23", 1e-23},
      {"leading zeros are not significant", "0000000000000000000001.5", 1.5},
      {"zeros after the point", "0.000000000000000000000000000001", 1e-30},
      {"negative zero", "-0", -0.0},
      {"zero with a huge exponent", "0e99999999", 0.0},
      {"point and exponent", "12.5e-1", 1.25},
      {"one tenth", "0.1", 0.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double v = -1;
    ASSERT_TRUE(platform::TryStrToFloat(c.input, v, PointLocale()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(v), std::bit_cast<std::uint64_t>(c.expected));
  }
}

}  // namespace
