// Text, list and number helpers and the hourglass scope object.

#include <cmath>
#include <cstdint>

#include "convert/Internal.h"
#include "convert/Smallfun.h"
#include "platform/Ascii.h"
#include "platform/DateTime.h"
#include "platform/Text.h"

namespace convert {
namespace {

// The characters a field name may hold: digits, underscore, Latin capitals, Cyrillic
// capitals with Ё, and $ & @ ` ~ ^. Lower-case letters are not among them.
bool IsFieldNameChar(char32_t c) {
  if ((c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || c == U'_') return true;
  if (c >= 0x0410 && c <= 0x042F) return true;  // А..Я
  if (c == 0x0401) return true;                 // Ё
  switch (c) {
    case U'$':
    case U'&':
    case U'@':
    case U'`':
    case U'~':
    case U'^':
      return true;
    default:
      return false;
  }
}

// The byte offset of the code point number `index` (0-based) of s, or s.size().
std::size_t OffsetOfCodePoint(std::string_view s, std::size_t index) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < index && pos < s.size(); ++i) platform::DecodeUtf8(s, pos);
  return pos;
}

}  // namespace
}  // namespace convert

std::string FldList_Prepare(const std::string& fieldList) {
  const std::string t = platform::UpperCase(platform::TrimView(fieldList));
  if (t.empty()) return std::string();
  std::string out;
  out.reserve(t.size() + 2);
  out.push_back(';');
  std::size_t pos = 0;
  while (pos < t.size()) {
    const std::size_t start = pos;
    const char32_t c = platform::DecodeUtf8(t, pos);
    if (convert::IsFieldNameChar(c)) {
      out.append(t, start, pos - start);
    } else {
      out.push_back(';');  // one separator for each character, whatever its length
    }
  }
  out.push_back(';');
  return out;
}

std::string CharReplace(const std::string& text, char find, char replacement) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0') break;  // the text ends at a NUL character
    if (c != find) {
      out.push_back(c);
    } else if (replacement != '\0') {
      out.push_back(replacement);
    }
  }
  return out;
}

std::string CharReplace(const std::string& text, char find, const std::string& replacement) {
  if (replacement.empty()) return CharReplace(text, find, '\0');
  if (replacement.size() == 1) return CharReplace(text, find, replacement[0]);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\0') break;
    if (c == find) {
      out += replacement;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string ListToStrWithSep(const TStrings* list, const std::string& separator, bool trimItems) {
  if (list == nullptr || list->Count() == 0) return std::string();
  std::string out;
  bool first = true;
  for (const std::string& raw : list->Items()) {
    std::string_view item = raw;
    if (trimItems) {
      item = platform::TrimView(raw);
      if (item.empty()) continue;
    }
    if (!first) out += separator;
    out += item;
    first = false;
  }
  return out;
}

std::string ListToStrWithSep(const std::string& text, const std::string& separator,
                             bool trimItems) {
  TStringList lines;
  lines.SetText(text);
  return ListToStrWithSep(&lines, separator, trimItems);
}

int FindTextA(const std::string& text, const std::string& find, int start, bool ignoreCase) {
  if (text.empty()) return 0;
  // Positions count characters (code points), from 1.
  if (start <= 0) {
    start = 1;
  } else if (static_cast<std::size_t>(start) >= platform::CodePointCount(text)) {
    return 0;
  }
  if (find.empty()) return 0;
  const std::string_view tail = std::string_view(text).substr(
      convert::OffsetOfCodePoint(text, static_cast<std::size_t>(start - 1)));
  std::size_t at;
  std::string upperTail;
  if (ignoreCase) {
    // Case pairs of the tables have UTF-8 forms of equal length, so offsets carry over.
    upperTail = platform::UpperCase(tail);
    at = upperTail.find(platform::UpperCase(find));
  } else {
    at = tail.find(find);
  }
  if (at == std::string_view::npos) return 0;
  const std::size_t k = platform::CodePointCount(tail.substr(0, at)) + 1;
  return static_cast<int>(k) + start - 1;
}

char VKey_ToChar(std::uint16_t virtualKey) {
  // Linux offers no keyboard state to a library: the key is translated by the US
  // layout with no modifier held and Num Lock on.
  const std::uint16_t k = virtualKey;
  if (k >= 'A' && k <= 'Z') return static_cast<char>(k - 'A' + 'a');
  if (k >= '0' && k <= '9') return static_cast<char>(k);
  if (k >= 0x60 && k <= 0x69) return static_cast<char>('0' + (k - 0x60));  // numeric pad
  switch (k) {
    case 0x08:
      return '\b';  // Backspace
    case 0x09:
      return '\t';  // Tab
    case 0x0D:
      return '\r';  // Enter
    case 0x1B:
      return '\x1B';  // Escape
    case 0x20:
      return ' ';  // Space
    case 0x6A:
      return '*';
    case 0x6B:
      return '+';
    case 0x6D:
      return '-';
    case 0x6E:
      return '.';
    case 0x6F:
      return '/';
    case 0xBA:
      return ';';
    case 0xBB:
      return '=';
    case 0xBC:
      return ',';
    case 0xBD:
      return '-';
    case 0xBE:
      return '.';
    case 0xBF:
      return '/';
    case 0xC0:
      return '`';
    case 0xDB:
      return '[';
    case 0xDC:
      return '\\';
    case 0xDD:
      return ']';
    case 0xDE:
      return '\'';
    case 0xE2:
      return '\\';  // the extra key of 102-key keyboards
    default:
      return '\0';
  }
}

int MinI(int a, int b) { return b < a ? b : a; }

int MaxI(int a, int b) { return b > a ? b : a; }

int LimitI(int a, int b, int c) {
  if (c <= b) return c;
  if (b >= a) return b;
  return c <= a ? c : a;
}

double ZnRound(double value, double step) {
  if (value == 0) return value;
  if (step == 0) return value;
  const double g = value < 0 ? -1.0 : 1.0;
  const double v = std::fabs(value);
  const double s = std::fabs(step);
  const double quotient = std::trunc(v / s);
  // Beyond the 64-bit range (or not finite) there is nothing left to round.
  if (!(quotient < 9.2e18)) return value;
  auto q = static_cast<std::int64_t>(quotient);
  const double r = v - static_cast<double>(q) * s;
  if (s * 0.5 <= r) ++q;
  return static_cast<double>(q) * s * g;
}

TDateTime ZnLocalDateTimeToGMT(TDateTime local) {
  const int bias = platform::LocalZoneBiasMinutes();
  return local + bias * (1.0 / 24) * (1.0 / 60);
}

TWaitCursor::TWaitCursor() : savedCursor_(Screen ? Screen->Cursor() : crDefault) {
  if (Screen) Screen->SetCursor(crHourGlass);
}

TWaitCursor::~TWaitCursor() {
  if (Screen) Screen->SetCursor(savedCursor_);
}
