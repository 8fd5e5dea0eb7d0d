// Reading numbers from text as the run-time library does: 32-bit integers (decimal or
// hexadecimal) and floating-point numbers with the regional decimal separator.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/Ascii.h"
#include "platform/ExactDecimal.h"
#include "platform/NumberFormat.h"

namespace platform {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  // The text ends at a NUL, as a C string would.
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  const char* p = text.data();
  const char* end = p + text.size();
  while (p != end && IsBlankByte(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // "$1F", "x1F" and "0x1F" are hexadecimal: 32 bits at most, taken as they stand, so
  // "$FFFFFFFF" is -1.
  bool hex = false;
  if (p != end && (*p == '$' || *p == 'x' || *p == 'X')) {
    hex = true;
    ++p;
  } else if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    hex = true;
    p += 2;
  }
  if (p == end) return false;
  std::int64_t acc = 0;
  if (hex) {
    for (; p != end; ++p) {
      const char c = *p;
      int digit = 0;
      if (IsDigit(c)) {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return false;
      }
      acc = acc * 16 + digit;
      if (acc > 0xFFFFFFFFLL) return false;
    }
    auto bits = static_cast<std::uint32_t>(acc);
    if (negative) bits = 0u - bits;
    value = static_cast<std::int32_t>(bits);
    return true;
  }
  for (; p != end; ++p) {
    if (!IsDigit(*p)) return false;
    acc = acc * 10 + (*p - '0');
    if (acc > 2147483648LL) return false;
  }
  if (negative) acc = -acc;
  if (acc > 2147483647LL) return false;
  value = static_cast<std::int32_t>(acc);
  return true;
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& fs) {
  const std::string_view trimmed = TrimView(text);
  const char* p = trimmed.data();
  const char* end = p + trimmed.size();
  if (p == end) return false;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Check the form: digits, at most one separator, at least one digit, an optional
  // exponent. On the way, the digits as an integer mantissa and a power of ten for the
  // fast path: while the mantissa has at most 19 significant digits it is exact.
  const char* const body = p;
  const char* separatorAt = nullptr;
  const char* exponentAt = nullptr;
  int digits = 0;
  std::uint64_t mantissa = 0;
  int significant = 0;
  int power = 0;
  for (; p != end; ++p) {
    if (IsDigit(*p)) {
      ++digits;
      if (significant < 19) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        if (mantissa != 0) ++significant;
        if (separatorAt) --power;
      } else {
        significant = 20;  // too many digits: the exact path decides
      }
    } else if (*p == fs.DecimalSeparator && !separatorAt) {
      separatorAt = p;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (p != end) {
    if (*p != 'e' && *p != 'E') return false;
    exponentAt = p;
    ++p;
    bool negativeExponent = false;
    if (p != end && (*p == '+' || *p == '-')) negativeExponent = *p++ == '-';
    if (p == end) return false;
    int exponent = 0;
    for (; p != end; ++p) {
      if (!IsDigit(*p)) return false;
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
    }
    power += negativeExponent ? -exponent : exponent;
  }
  // Clinger's fast path: a mantissa of at most 53 bits and an exact power of ten give
  // the correctly rounded value in one multiplication or division.
  if (detail::kPlainDoubleArithmetic && significant <= 19 && mantissa <= (std::uint64_t{1} << 53) &&
      power >= -detail::kMaxExactPowerOfTen && power <= detail::kMaxExactPowerOfTen) {
    const double m = static_cast<double>(mantissa);
    const double v =
        power >= 0 ? m * detail::kExactPowersOfTen[power] : m / detail::kExactPowersOfTen[-power];
    value = negative ? -v : v;
    return true;
  }

  // The exact way: the text with "." as the decimal point and "e" before the exponent.
  char local[128];
  std::string heap;
  char* buf = local;
  const std::size_t n = static_cast<std::size_t>(end - body);
  if (n >= sizeof local) {
    heap.resize(n + 1);
    buf = heap.data();
  }
  for (std::size_t i = 0; i < n; ++i) {
    const char* q = body + i;
    buf[i] = q == separatorAt ? '.' : (q == exponentAt ? 'e' : *q);
  }
  double v = 0;
  const auto r = std::from_chars(buf, buf + n, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != buf + n || !std::isfinite(v)) return false;
  value = negative ? -v : v;
  return true;
}

}  // namespace platform
