#include "sheet/XlsRecords.h"

#include "platform/Text.h"

namespace sheet {
namespace xls {

std::string Hex(std::uint16_t v) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
  return s;
}

double DecodeRk(std::uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    std::uint64_t bits = std::uint64_t{rk & 0xFFFFFFFCu} << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 1) ? v / 100.0 : v;
}

const char* ErrorText(std::uint8_t code) {
  switch (code) {
    case 0x00:
      return "#NULL!";
    case 0x07:
      return "#DIV/0!";
    case 0x0F:
      return "#VALUE!";
    case 0x17:
      return "#REF!";
    case 0x1D:
      return "#NAME?";
    case 0x24:
      return "#NUM!";
    case 0x2B:
      return "#GETTING_DATA";
    default:
      return "#N/A";
  }
}

void Utf16ToUtf8(const std::u16string& units, std::string& out) {
  out.clear();
  out.reserve(units.size());
  platform::AppendUtf16(out, units);
}

bool ParseShortString(const std::uint8_t* body, std::size_t length, std::size_t pos, bool count16,
                      std::string& out) {
  std::size_t need = count16 ? 3 : 2;
  if (length < pos || length - pos < need) return false;
  std::size_t count = count16 ? U16(body + pos) : body[pos];
  std::uint8_t flags = body[pos + need - 1];
  pos += need;
  bool wide = (flags & 1) != 0;
  if ((length - pos) / (wide ? 2 : 1) < count) return false;
  std::u16string units;
  units.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    units += wide ? static_cast<char16_t>(U16(body + pos + 2 * i))
                  : static_cast<char16_t>(body[pos + i]);
  }
  Utf16ToUtf8(units, out);
  return true;
}

}  // namespace xls
}  // namespace sheet
