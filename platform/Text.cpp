#include "platform/Text.h"

#include <array>
#include <cstring>

#include "platform/Ascii.h"
#include "platform/Exception.h"

namespace platform {
namespace {

// Windows-1251 bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in order. The
// unassigned byte 0x98 maps to the C1 control U+0098 so that every byte survives a
// round trip.
constexpr std::array<char16_t, 64> kWin1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// Appends the case-mapped form of s; `map` maps one code point. ASCII runs are mapped
// byte by byte; malformed UTF-8 bytes are copied unchanged.
template <typename AsciiMap, typename CharMap>
std::string MapCase(std::string_view s, AsciiMap ascii, CharMap map) {
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    const auto b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
      out.push_back(ascii(static_cast<char>(b)));
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    const char32_t c = DecodeUtf8(s, pos);
    if (c == 0xFFFD && pos - start == 1) {
      out.append(s.substr(start, pos - start));  // malformed: keep the byte as it is
    } else {
      AppendUtf8(out, map(c));
    }
  }
  return out;
}

}  // namespace

std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

std::string TrimLeft(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && IsBlankByte(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && IsBlankByte(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

bool IsBlank(std::string_view s) {
  for (char c : s) {
    if (!IsBlankByte(c)) return false;
  }
  return true;
}

char32_t UpperChar(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 32;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;  // Latin-1
  if (c == 0xFF) return 0x0178;                              // ÿ -> Ÿ
  if (c >= 0x0430 && c <= 0x044F) return c - 32;             // а..я
  if (c >= 0x0450 && c <= 0x045F) return c - 80;             // ё, ђ, ... џ
  if (c == 0x0491) return 0x0490;                            // ґ
  return c;
}

char32_t LowerChar(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c == 0x0178) return 0xFF;
  if (c >= 0x0410 && c <= 0x042F) return c + 32;
  if (c >= 0x0400 && c <= 0x040F) return c + 80;
  if (c == 0x0490) return 0x0491;
  return c;
}

std::string UpperCase(std::string_view s) {
  return MapCase(
      s, [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }, UpperChar);
}

std::string LowerCase(std::string_view s) {
  return MapCase(
      s, [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }, LowerChar);
}

char32_t DecodeUtf8(std::string_view s, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int len;
  char32_t c;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    c = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    c = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    c = b0 & 0x07;
    min = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + static_cast<std::size_t>(len) > s.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (int i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += static_cast<std::size_t>(len);
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    // Eight ASCII characters at a time.
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    // The same sequences DecodeUtf8 accepts: no overlong forms, no surrogates, nothing
    // above U+10FFFF.
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < len) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (std::size_t i = 2; i < len; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += len;
  }
  return true;
}

std::size_t CodePointCount(std::string_view s) {
  std::size_t n = 0, pos = 0;
  while (pos < s.size()) {
    DecodeUtf8(s, pos);
    ++n;
  }
  return n;
}

char32_t Win1251ToChar(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
  return kWin1251High[byte - 0x80];
}

int CharToWin1251(char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<int>(c - 0x0410 + 0xC0);
  for (std::size_t i = 0; i < kWin1251High.size(); ++i) {
    if (kWin1251High[i] == c) return static_cast<int>(0x80 + i);
  }
  return -1;
}

std::string Win1251ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else {
      AppendUtf8(out, Win1251ToChar(b));
    }
  }
  return out;
}

std::string Utf8ToWin1251(std::string_view utf8, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t c = DecodeUtf8(utf8, pos);
    const int b = CharToWin1251(c);
    out.push_back(b < 0 ? replacement : static_cast<char>(b));
  }
  return out;
}

void AppendUtf16(std::string& out, std::u16string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);  // a lone surrogate becomes U+FFFD
  }
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  AppendUtf16(out, s);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  while (pos < s.size()) {
    const char32_t c = DecodeUtf8(s, pos);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

namespace {

bool HasNonAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// Decodes a text that is not valid UTF-8 as a whole, one line at a time; the breaks (CR,
// LF) are copied as they are.
std::string DecodeLineByLine(std::string_view bytes, TextDecoding& decoding) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t stop = bytes.find_first_of("\r\n", pos);
    if (stop == std::string_view::npos) stop = bytes.size();
    const std::string_view line = bytes.substr(pos, stop - pos);
    if (HasNonAscii(line)) {
      if (IsValidUtf8(line)) {
        out.append(line);
        ++decoding.utf8Lines;
      } else {
        out += Win1251ToUtf8(line);
        ++decoding.win1251Lines;
      }
    } else {
      out.append(line);
    }
    if (stop < bytes.size()) out.push_back(bytes[stop]);
    pos = stop + 1;
  }
  return out;
}

}  // namespace

std::string DecodeText(std::string_view bytes, TextEncoding* detected, std::string_view what) {
  TextDecoding decoding;
  std::string out = DecodeText(bytes, decoding, what);
  if (detected) *detected = decoding.encoding;
  return out;
}

std::string DecodeText(std::string_view bytes, TextDecoding& decoding, std::string_view what) {
  decoding = TextDecoding{};
  auto refuseNul = [&]() {
    throw EFileError("Cannot read '" + std::string(what) +
                     "': the file holds NUL bytes and is not a UTF-16 text");
  };
  const bool le = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
  const bool be = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
  if (le || be) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    std::size_t i = 2;
    for (; i + 1 < bytes.size(); i += 2) {
      const auto a = static_cast<unsigned char>(bytes[i]);
      const auto b = static_cast<unsigned char>(bytes[i + 1]);
      units.push_back(static_cast<char16_t>(le ? (a | (b << 8)) : ((a << 8) | b)));
    }
    std::string out = Utf16ToUtf8(units);
    if (i < bytes.size()) AppendUtf8(out, 0xFFFD);  // an odd last byte is shown, not lost
    // A NUL character would cut the text at the line rule's first NUL.
    if (out.find('\0') != std::string::npos) refuseNul();
    decoding.encoding = le ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
    return out;
  }
  if (std::memchr(bytes.data(), 0, bytes.size()) != nullptr) refuseNul();
  const bool bom = bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
  if (bom) bytes.remove_prefix(3);
  if (IsValidUtf8(bytes)) {
    decoding.encoding = bom ? TextEncoding::Utf8Bom : TextEncoding::Utf8;
    return std::string(bytes);
  }
  std::string out = DecodeLineByLine(bytes, decoding);
  decoding.encoding = decoding.Mixed() ? TextEncoding::Mixed : TextEncoding::Windows1251;
  return out;
}

}  // namespace platform
