#pragma once
// Character classes and small checks of the own XML tokenizer (XmlOwnTokenizer.cpp).
// Private to the XML layer of sheet/.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sheet {

enum CharClass : std::uint8_t {
  kPlain = 0,    // stands for itself in text and attribute values
  kSpecial = 1,  // '&', CR, ']' of text, tab and LF of attribute values
  kBad = 2,      // a control character XML does not allow
  kHigh = 3,     // a byte of a multi-byte UTF-8 sequence
  kLess = 4,     // '<', not allowed in attribute values
};

enum class Run { Text, Attribute, Cdata };

constexpr std::array<std::uint8_t, 256> MakeClasses(Run run) {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c >= 0x80) {
      table[c] = kHigh;
    } else if (c == '\r' || (run != Run::Cdata && c == '&') || (run == Run::Text && c == ']') ||
               (run == Run::Attribute && (c == '\t' || c == '\n'))) {
      table[c] = kSpecial;
    } else if (c < 0x20 && c != '\t' && c != '\n') {
      table[c] = kBad;
    } else if (c == '<' && run == Run::Attribute) {
      table[c] = kLess;
    }
  }
  return table;
}

inline constexpr auto kTextClasses = MakeClasses(Run::Text);
inline constexpr auto kAttributeClasses = MakeClasses(Run::Attribute);
inline constexpr auto kCdataClasses = MakeClasses(Run::Cdata);

// Name characters: 1 may start a name, 2 may only continue one. Bytes of non-ASCII
// characters are accepted in either place.
constexpr std::array<std::uint8_t, 256> MakeNameTable() {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80) {
      table[c] = 1;
    } else if ((c >= '0' && c <= '9') || c == '.' || c == '-') {
      table[c] = 2;
    }
  }
  return table;
}

inline constexpr auto kNameChars = MakeNameTable();

inline bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Length of the valid UTF-8 sequence at `p` (at most `left` bytes there), 0 when it is
// invalid, or -1 when it is cut off by the end of the data.
inline int Utf8Length(const unsigned char* p, std::size_t left) {
  const unsigned char b = p[0];
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (int k = 1; k < length; ++k) {
    if (static_cast<std::size_t>(k) >= left) return -1;
    if (p[k] < (k == 1 ? low : 0x80) || p[k] > (k == 1 ? high : 0xBF)) return 0;
  }
  // U+FFFE and U+FFFF are not characters.
  if (b == 0xEF && p[1] == 0xBF && p[2] >= 0xBE) return 0;
  return length;
}

// The pseudo-attributes of an XML declaration after "<?xml": version, then optionally
// encoding and standalone, in that order, each value quoted and of its own syntax.
inline bool IsPlainDeclaration(std::string_view rest) {
  const auto skipBlanks = [&] {
    const std::size_t before = rest.size();
    while (!rest.empty() && IsXmlSpace(rest.front())) rest.remove_prefix(1);
    return rest.size() != before;
  };
  const auto pseudo = [&](std::string_view name, auto valid) {
    const std::string_view saved = rest;
    if (!skipBlanks() || !rest.starts_with(name)) {
      rest = saved;
      return false;
    }
    rest.remove_prefix(name.size());
    skipBlanks();
    if (rest.empty() || rest.front() != '=') return false;
    rest.remove_prefix(1);
    skipBlanks();
    if (rest.empty() || (rest.front() != '"' && rest.front() != '\'')) return false;
    const auto close = rest.find(rest.front(), 1);
    if (close == std::string_view::npos || !valid(rest.substr(1, close - 1))) return false;
    rest.remove_prefix(close + 1);
    return true;
  };
  const auto version = [](std::string_view v) {
    return v.size() > 2 && v.starts_with("1.") &&
           v.find_first_not_of("0123456789", 2) == std::string_view::npos;
  };
  const auto encoding = [](std::string_view v) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (v.empty() || !letter(v.front())) return false;
    for (const char c : v) {
      if (!letter(c) && !(c >= '0' && c <= '9') && c != '.' && c != '_' && c != '-') return false;
    }
    return true;
  };
  const auto standalone = [](std::string_view v) { return v == "yes" || v == "no"; };
  if (!pseudo("version", version)) return false;
  const std::string_view afterVersion = rest;
  if (!pseudo("encoding", encoding)) rest = afterVersion;
  const std::string_view afterEncoding = rest;
  if (!pseudo("standalone", standalone)) rest = afterEncoding;
  skipBlanks();
  return rest.empty();
}

inline bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

}  // namespace sheet
