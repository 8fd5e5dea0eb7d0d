#include "platform/NumberFormat.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Ascii.h"
#include "platform/ExactDecimal.h"

namespace platform {
namespace {

using detail::kExactPowersOfTen;
using detail::kMaxExactPowerOfTen;
using detail::kPlainDoubleArithmetic;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Adds one unit of the last digit to the decimal text [first, end) (digits and at most
// one separator); returns the new end (one longer when a carry runs past the first
// digit).
char* IncrementDecimal(char* first, char* end, char* last) {
  for (char* p = end; p != first;) {
    --p;
    if (!IsDigit(*p)) continue;
    if (*p != '9') {
      ++*p;
      return end;
    }
    *p = '0';
  }
  if (end == last) return nullptr;
  std::memmove(first + 1, first, static_cast<std::size_t>(end - first));
  *first = '1';
  return end + 1;
}

// The first 18 significant digits of |value| (finite, not zero), rounded to the nearest,
// and the power of ten of the first one: |value| is about d[0].d[1]d[2]... * 10^exponent.
// Fixed and scientific patterns round these digits, not the binary value, so that a
// figure such as 1000.005, stored a hair below, still rounds up.
void EighteenDigits(double value, char (&digits)[18], int& exponent) {
  char buf[40];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 17);
  const char* p = buf;
  int n = 0;
  for (; p != r.ptr && *p != 'e'; ++p) {
    if (IsDigit(*p) && n < 18) digits[n++] = *p;
  }
  while (n < 18) digits[n++] = '0';
  exponent = 0;
  if (p != r.ptr) {
    ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    std::from_chars(p, r.ptr, exponent);
    if (negative) exponent = -exponent;
  }
}

// Keeps the first `keep` (0 to 18) of the 18 digits, rounded half away from zero, in
// [out, ...); returns the end. A carry past the first digit makes the result one longer.
char* KeepDigits(const char (&digits)[18], int keep, char* out) {
  std::memcpy(out, digits, static_cast<std::size_t>(keep));
  char* end = out + keep;
  if (keep < 18 && digits[keep] >= '5') {
    if (keep == 0) {
      *end++ = '1';
    } else {
      end = IncrementDecimal(out, end, end + 1);
    }
  }
  return end;
}

// The fast way to fixed notation. s = |value| * 10^decimals is the exact product p
// rounded once to a double. Below 2^50 every k + 1/2 is a double too, and rounding is
// monotonic, so p < k + 1/2 gives s <= k + 1/2 and p > k + 1/2 gives s >= k + 1/2: when
// the fraction of s (exact, as is its integer part) is not one half, s and p lie between
// the same two rounding boundaries and rounding s to the nearest integer gives the
// digits of the exact binary value. Those are also the digits of its 18 significant
// ones rounded: they differ only for a p below k + 1/2 by less than half a unit of the
// 18th digit, far less than half a unit of a double there, so s is k + 1/2 itself. A
// fraction of exactly one half may come from a p just below or above it: nullptr, and
// the caller takes the way by 18 digits, as for large values and many decimals.
char* FormatFixedFast(char* first, char* last, double value, int decimals, char decimalSeparator) {
  if (decimals > kMaxExactPowerOfTen) return nullptr;
  const double scaled = std::fabs(value) * kExactPowersOfTen[decimals];
  if (!(scaled < 1125899906842624.0)) return nullptr;     // 2^50
  const auto whole = static_cast<std::uint64_t>(scaled);  // truncation: the floor here
  const double fraction = scaled - static_cast<double>(whole);
  if (fraction == 0.5) return nullptr;
  std::uint64_t rounded = whole + (fraction > 0.5 ? 1 : 0);
  const bool negative = value < 0 && rounded != 0;

  // The digits of `rounded`, two at a time from the last, right-aligned in a field of
  // zeros: at least decimals + 1 digits, so that a whole part of 0 is written too.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char digits[48];
  std::memset(digits, '0', sizeof digits);
  char* const digitsEnd = digits + sizeof digits;
  char* d = digitsEnd;
  while (rounded >= 100) {
    const auto pair = static_cast<unsigned>(rounded % 100);
    rounded /= 100;
    d -= 2;
    d[0] = kPairs[2 * pair];
    d[1] = kPairs[2 * pair + 1];
  }
  if (rounded >= 10) {
    d -= 2;
    d[0] = kPairs[2 * rounded];
    d[1] = kPairs[2 * rounded + 1];
  } else {
    *--d = static_cast<char>('0' + rounded);
  }
  if (digitsEnd - d < decimals + 1) d = digitsEnd - (decimals + 1);
  const int intDigits = static_cast<int>(digitsEnd - d) - decimals;
  const int unsignedSize = intDigits + (decimals > 0 ? 1 + decimals : 0);
  // The exact path works with up to three places more than its result; where it would
  // run out of room it decides, so that both paths fail alike.
  if (last - first < unsignedSize + 3) return nullptr;

  char* out = first;
  if (negative) *out++ = '-';
  for (int i = 0; i < intDigits; ++i) *out++ = *d++;
  if (decimals > 0) {
    *out++ = decimalSeparator;
    for (int i = 0; i < decimals; ++i) *out++ = *d++;
  }
  return out;
}

std::vector<std::string_view> SplitSections(std::string_view pattern) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      out.push_back(pattern.substr(start, i - start));
      start = i + 1;
      if (out.size() == 2) break;
    }
  }
  if (out.size() < 3) out.push_back(pattern.substr(start));
  if (out.size() == 3 && out[2].find(';') != std::string_view::npos) {
    out[2] = out[2].substr(0, out[2].find(';'));
  }
  return out;
}

struct Layout {
  int minInt = 0;  // integer digits always shown
  int minDec = 0;  // decimals always shown
  int maxDec = 0;  // decimals shown when significant
  bool grouping = false;
  bool hasPlaceholder = false;
  bool scientific = false;
  bool expPlus = false;  // "E+": the exponent's sign is always shown
  int expDigits = 0;
};

Layout Analyse(std::string_view sec) {
  Layout l;
  bool afterPoint = false;
  bool seenZero = false;
  int intFromZero = 0;
  int decCount = 0;
  char quote = 0;
  for (std::size_t i = 0; i < sec.size(); ++i) {
    const char c = sec[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    switch (c) {
      case '"':
      case '\'':
        quote = c;
        break;
      case '0':
      case '#':
        l.hasPlaceholder = true;
        if (afterPoint) {
          ++decCount;
          if (c == '0') l.minDec = decCount;
        } else {
          if (c == '0') seenZero = true;
          if (seenZero) ++intFromZero;
        }
        break;
      case '.':
        afterPoint = true;
        break;
      case ',':
        if (!afterPoint) l.grouping = true;
        break;
      case 'E':
      case 'e':
        if (i + 1 < sec.size() && (sec[i + 1] == '+' || sec[i + 1] == '-') && l.hasPlaceholder) {
          l.scientific = true;
          l.expPlus = sec[i + 1] == '+';
          std::size_t j = i + 2;
          while (j < sec.size() && sec[j] == '0') {
            ++l.expDigits;
            ++j;
          }
          i = sec.size();  // the exponent ends the digits of the pattern
        }
        break;
      default:
        break;
    }
  }
  l.minInt = intFromZero;
  l.maxDec = decCount;
  return l;
}

void Group(std::string& digits, const std::string& separator) {
  if (separator.empty() || digits.size() <= 3) return;
  std::string out;
  out.reserve(digits.size() + digits.size() / 3 * separator.size());
  const std::size_t lead = digits.size() % 3;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (i - lead) % 3 == 0 && i >= lead) out += separator;
    out.push_back(digits[i]);
  }
  digits = std::move(out);
}

std::string FormatSection(std::string_view sec, double value, bool withSign,
                          const TFormatSettings& fs) {
  const Layout l = Analyse(sec);
  std::string intPart, fracPart, expPart;
  bool negative = false;
  if (!std::isfinite(value)) {
    return std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
  }
  if (l.scientific) {
    // The mantissa: one integer digit and up to maxDec decimals of the 18 significant
    // digits, rounded half away from zero; zero is written 0E0.
    int exponent = 0;
    char kept[20] = {'0'};
    int keptCount = 1;
    if (value != 0) {
      char eighteen[18];
      EighteenDigits(value, eighteen, exponent);
      const int keep = l.maxDec + 1 < 18 ? l.maxDec + 1 : 18;
      keptCount = static_cast<int>(KeepDigits(eighteen, keep, kept) - kept);
      if (keptCount > keep) {  // 9.99 became 10.0
        --keptCount;
        ++exponent;
      }
    }
    intPart.assign(1, kept[0]);
    fracPart.assign(kept + 1, static_cast<std::size_t>(keptCount - 1));
    if (static_cast<int>(fracPart.size()) < l.maxDec) {
      fracPart.append(static_cast<std::size_t>(l.maxDec) - fracPart.size(), '0');
    }
    negative = value < 0 && value != 0;
    if (exponent < 0) {
      expPart.push_back('-');
    } else if (l.expPlus) {
      expPart.push_back('+');
    }
    std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
    if (static_cast<int>(digits.size()) < l.expDigits) {
      digits.insert(0, static_cast<std::size_t>(l.expDigits) - digits.size(), '0');
    }
    expPart += digits;
  } else {
    char buf[400];
    char* end = FormatFixed(buf, buf + sizeof buf, value, l.maxDec, '.');
    std::string_view t(buf, end ? static_cast<std::size_t>(end - buf) : 0);
    if (!t.empty() && t[0] == '-') {
      negative = true;
      t.remove_prefix(1);
    }
    const std::size_t dot = t.find('.');
    intPart = std::string(t.substr(0, dot));
    if (dot != std::string_view::npos) fracPart = std::string(t.substr(dot + 1));
  }
  while (static_cast<int>(fracPart.size()) > l.minDec && !fracPart.empty() &&
         fracPart.back() == '0') {
    fracPart.pop_back();
  }
  if (intPart == "0" && l.minInt == 0 && !l.scientific) intPart.clear();
  if (static_cast<int>(intPart.size()) < l.minInt) {
    intPart.insert(0, static_cast<std::size_t>(l.minInt) - intPart.size(), '0');
  }
  if (l.grouping) Group(intPart, fs.ThousandSeparator);

  std::string out;
  if (withSign && negative) out.push_back('-');
  bool intDone = false, fracDone = false, afterPoint = false;
  char quote = 0;
  for (std::size_t i = 0; i < sec.size(); ++i) {
    const char c = sec[i];
    if (quote) {
      if (c == quote) {
        quote = 0;
      } else {
        out.push_back(c);
      }
      continue;
    }
    switch (c) {
      case '"':
      case '\'':
        quote = c;
        break;
      case '0':
      case '#':
        if (!intDone) {
          out += intPart;
          intDone = true;
        }
        break;
      case ',':
        if (afterPoint) out.push_back(c);
        break;
      case '.':
        if (afterPoint) break;
        if (!intDone) {
          out += intPart;
          intDone = true;
        }
        afterPoint = true;
        if (!fracPart.empty()) {
          out.push_back(fs.DecimalSeparator);
          out += fracPart;
        }
        fracDone = true;
        break;
      case 'E':
      case 'e':
        if (l.scientific && i + 1 < sec.size() && (sec[i + 1] == '+' || sec[i + 1] == '-')) {
          if (!intDone) {
            out += intPart;
            intDone = true;
          }
          if (!fracDone && !fracPart.empty()) {
            out.push_back(fs.DecimalSeparator);
            out += fracPart;
          }
          fracDone = true;
          out.push_back(c);
          out += expPart;
          i += 1;
          while (i + 1 < sec.size() && sec[i + 1] == '0') ++i;
          break;
        }
        out.push_back(c);
        break;
      default:
        out.push_back(c);
        break;
    }
  }
  return out;
}

}  // namespace

char* FormatFixed(char* first, char* last, double value, int decimals, char decimalSeparator) {
  if (decimals < 0) decimals = 0;
  if (decimals > 40) decimals = 40;
  if (!std::isfinite(value)) {
    const char* t = std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
    const std::size_t n = std::strlen(t);
    if (static_cast<std::size_t>(last - first) < n) return nullptr;
    std::memcpy(first, t, n);
    return first + n;
  }
  if (first == last) return nullptr;
  if (char* end = FormatFixedFast(first, last, value, decimals, decimalSeparator)) return end;
  const double a = std::fabs(value);
  char* digits = first + 1;  // room for a minus sign
  char* end = nullptr;
  if (a < 1e18) {
    // The 18 significant digits, rounded to the decimals wanted: a count of units of the
    // last decimal, laid out with at least one integer digit.
    char units[64];
    char* unitsEnd = units;
    if (a != 0) {
      char eighteen[18];
      int exponent = 0;
      EighteenDigits(a, eighteen, exponent);
      const int keep = exponent + 1 + decimals;
      if (keep >= 0) {
        unitsEnd = KeepDigits(eighteen, keep < 18 ? keep : 18, units);
        for (int i = 18; i < keep; ++i) *unitsEnd++ = '0';
      }
    }
    const char* u = units;
    while (u != unitsEnd && *u == '0') ++u;
    const int count = static_cast<int>(unitsEnd - u);
    const int width = count > decimals ? count : decimals + 1;
    const int intDigits = width - decimals;
    const int unsignedSize = intDigits + (decimals > 0 ? 1 + decimals : 0);
    if (last - first < unsignedSize + 3) return nullptr;  // as the quick way decides
    char* out = digits;
    for (int i = 0; i < width; ++i) {
      if (i == intDigits) *out++ = '.';
      *out++ = i < width - count ? '0' : *u++;
    }
    end = out;
  } else {
    // Whole numbers: their digits are exact and the decimals all zero.
    const auto r = std::to_chars(digits, last, a, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return nullptr;
    end = r.ptr;
  }
  bool zero = true;
  for (char* p = digits; p != end; ++p) {
    if (*p == '.') {
      *p = decimalSeparator;
    } else if (*p != '0') {
      zero = false;
    }
  }
  if (value < 0 && !zero) {
    *first = '-';
    return end;
  }
  std::memmove(first, digits, static_cast<std::size_t>(end - digits));
  return end - 1;
}

std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& fs) {
  if (pattern.empty()) return FloatToStr(value, fs);
  const std::vector<std::string_view> sections = SplitSections(pattern);
  std::string_view section = sections[0];
  double shown = value;
  bool withSign = true;
  if (value < 0 && sections.size() >= 2 && !sections[1].empty()) {
    section = sections[1];
    shown = -value;
    withSign = false;
  } else if (value == 0 && sections.size() >= 3 && !sections[2].empty()) {
    section = sections[2];
    withSign = false;
  }
  if (section.empty()) return FloatToStr(value, fs);
  // Fixed notation holds 18 significant digits: larger values go to the general format.
  if (std::isfinite(value) && std::fabs(value) >= 1e18 && !Analyse(section).scientific) {
    return FloatToStr(value, fs);
  }
  return FormatSection(section, shown, withSign, fs);
}

namespace {

// %g's text of `value` with 15 significant digits, the point replaced by `separator` and
// the exponent written by `writeExponent`.
template <typename WriteExponent>
std::string GeneralText(double value, char separator, WriteExponent writeExponent) {
  if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
  if (value == 0) return "0";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string out;
  for (const char* p = buf; p != r.ptr; ++p) {
    if (*p == '.') {
      out.push_back(separator);
    } else if (*p == 'e') {
      int exponent = 0;
      const char* digits = p + 1 + (p[1] == '+' ? 1 : 0);
      std::from_chars(digits, r.ptr, exponent);
      writeExponent(out, exponent);
      break;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

}  // namespace

std::string FloatToStrGeneral(double value, const TFormatSettings& fs) {
  return GeneralText(value, fs.DecimalSeparator, [](std::string& out, int exponent) {
    out += exponent < 0 ? "E-" : "E+";
    const int power = exponent < 0 ? -exponent : exponent;
    if (power < 10) out.push_back('0');
    out += std::to_string(power);
  });
}

std::string FloatToStr(double value, const TFormatSettings& fs) {
  return GeneralText(value, fs.DecimalSeparator, [](std::string& out, int exponent) {
    out.push_back('E');
    out += std::to_string(exponent);
  });
}

std::string IntToStr(std::int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

}  // namespace platform
