#pragma once
// Helpers shared by the sources of the conversion library.

#include <string>
#include <string_view>

namespace convert {

// The view without leading and trailing bytes of code 32 or less.
inline std::string_view TrimView(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

// The one-byte variant types hold a Windows-1251 byte: its character in UTF-8.
std::string ByteToText(unsigned char byte);

}  // namespace convert
