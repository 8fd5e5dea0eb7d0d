#pragma once
// Byte-exact ASCII rules over UTF-8 text: blanks (every code of 32 or less), trimming
// without copying, and upper-casing of the Latin letters a to z only. No byte of a
// multi-byte UTF-8 sequence is below 0x80, so none of these ever splits a character.
// For the case mapping of whole alphabets (Cyrillic, Latin-1) see platform/Text.h.

#include <string>
#include <string_view>

namespace platform {

constexpr bool IsBlankByte(char c) { return static_cast<unsigned char>(c) <= 32; }

// The view without its leading and trailing bytes of code 32 or less.
constexpr std::string_view TrimView(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlankByte(s[b])) ++b;
  while (e > b && IsBlankByte(s[e - 1])) --e;
  return s.substr(b, e - b);
}

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// `s` with a to z upper-cased; every other byte copied as it is.
inline std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

}  // namespace platform
