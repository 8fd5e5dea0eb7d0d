#pragma once
// Text helpers over UTF-8 strings. A "character" is a code point; the ASCII rules
// (trimming codes <= 32, tab, quote, comma, point) work byte for byte, since no byte
// of a multi-byte UTF-8 sequence is below 0x80.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Removes every leading and/or trailing byte whose code is 32 or less.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
bool IsBlank(std::string_view s);  // empty after Trim

// Case mapping for Latin, Latin-1 and Cyrillic letters (Ё/ё included), independent of
// the environment's locale. Other characters are copied unchanged.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
char32_t UpperChar(char32_t c);
char32_t LowerChar(char32_t c);

// UTF-8 decoding and encoding of single code points. DecodeUtf8 reads the code point at
// s[pos], advances pos, and yields U+FFFD for a malformed sequence (one byte consumed).
char32_t DecodeUtf8(std::string_view s, std::size_t& pos);
void AppendUtf8(std::string& out, char32_t c);
bool IsValidUtf8(std::string_view s);
std::size_t CodePointCount(std::string_view s);

// Windows-1251, the code page of Russian Windows.
std::string Win1251ToUtf8(std::string_view bytes);
// Characters without a Windows-1251 byte become `replacement`.
std::string Utf8ToWin1251(std::string_view utf8, char replacement = '?');
// The Windows-1251 byte of one character, or -1 when it has none.
int CharToWin1251(char32_t c);
char32_t Win1251ToChar(unsigned char byte);

// Mixed: a file that is not valid UTF-8 as a whole, holding both lines in UTF-8 and lines
// in Windows-1251 (see DecodeText).
enum class TextEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Windows1251, Mixed };

// What DecodeText found. The line counts are kept for a text decoded line by line and
// count only lines with bytes above 0x7F (a line of ASCII reads alike in both).
struct TextDecoding {
  TextEncoding encoding = TextEncoding::Utf8;
  std::size_t utf8Lines = 0;
  std::size_t win1251Lines = 0;
  bool Mixed() const { return utf8Lines > 0 && win1251Lines > 0; }
};

// Converts the bytes of a loaded text file to UTF-8. A UTF-16 BOM (LE or BE) means
// UTF-16; a UTF-8 BOM is dropped. Valid UTF-8 is taken as it is. Anything else is
// decoded line by line (lines end at CR or LF): a line that is valid UTF-8 and holds a
// character above ASCII stays UTF-8 (spreadsheet exports of mixed origin), every other
// line is Windows-1251. Only a BOM at the very start is dropped: U+FEFF inside the text is
// a character and kept. A file that holds NUL bytes and is not UTF-16, or a UTF-16 text
// holding U+0000, raises EFileError naming `what` (the file): the line rule would cut
// the text at the first NUL and lose the rest silently. Malformed UTF-16 (a lone
// surrogate, an odd last byte) gives U+FFFD.
std::string DecodeText(std::string_view bytes, TextDecoding& decoding, std::string_view what = {});
std::string DecodeText(std::string_view bytes, TextEncoding* detected = nullptr,
                       std::string_view what = {});
std::string Utf16ToUtf8(std::u16string_view s);
// Appends UTF-16 code units to `out` as UTF-8; an unpaired surrogate becomes U+FFFD.
void AppendUtf16(std::string& out, std::u16string_view s);
std::u16string Utf8ToUtf16(std::string_view s);

}  // namespace platform
