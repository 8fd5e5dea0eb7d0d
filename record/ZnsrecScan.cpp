// Line scanning: one separated text line split into cells and stored into the fields
// that take part in scanning.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "convert/Smallfun.h"
#include "platform/Ascii.h"
#include "platform/FormatSettings.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"
#include "record/Znsrec.h"

namespace {

// An empty text value; copying it into a field's Value keeps the capacity of the text
// the field held before, so that a scan need not allocate for short texts.
const Variant& BlankString() {
  static const Variant blank = Variant::String(std::string());
  return blank;
}

void StoreText(Variant& value, std::string_view text) {
  // A text value carries nothing besides its text, so one that is a text already only
  // needs the text replaced.
  if (value.VType() != varString) value = BlankString();
  std::string& target = value.MutableText();
  target.clear();
  target.append(text);
}

// The first position from `pos` on whose byte is `a`, `b` or `c`, or `length`. Eight
// bytes at a time: a byte equal to the pattern turns to zero under XOR, and the lowest
// zero byte of a word is found exactly by the borrow trick (higher ones may be reported
// falsely, so only the lowest counts).
std::size_t FindAnyOf3(const char* text, std::size_t pos, std::size_t length, unsigned char a,
                       unsigned char b, unsigned char c) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const std::uint64_t pa = kOnes * a, pb = kOnes * b, pc = kOnes * c;
    const auto zeroBytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    for (; pos + 8 <= length; pos += 8) {
      std::uint64_t word;
      std::memcpy(&word, text + pos, sizeof word);
      const std::uint64_t hits = zeroBytes(word ^ pa) | zeroBytes(word ^ pb) | zeroBytes(word ^ pc);
      if (hits != 0) return pos + static_cast<std::size_t>(std::countr_zero(hits) / 8);
    }
  }
  for (; pos < length; ++pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte == a || byte == b || byte == c) return pos;
  }
  return length;
}

}  // namespace

// Splits as the separator became a line feed and the text were then broken into lines:
// reading stops at the first NUL; a piece ends at CR, LF or the separator; after a piece
// one CR and then one LF (or separator) are skipped; a break at the very end gives no
// further cell. The cell strings of earlier lines are reused.
void TZnFFSRecord::SplitCells(std::string_view line, char separator) {
  const std::size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  const auto sep = static_cast<unsigned char>(separator);
  // No NUL is left, so a NUL separator never matches.
  const auto isLineFeed = [sep](unsigned char c) { return c == '\n' || c == sep; };
  const auto isReturn = [sep](unsigned char c) { return c == '\r' && sep != '\r'; };

  const char* text = line.data();
  const std::size_t length = line.size();
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < length) {
    const std::size_t start = pos;
    pos = FindAnyOf3(text, pos, length, sep, '\r', '\n');
    if (count == Cells.size()) {
      if (spareCells_.empty()) {
        Cells.emplace_back();
        // Room for every cell to be parked later without growing the spare list.
        if (spareCells_.capacity() < Cells.capacity()) spareCells_.reserve(Cells.capacity());
      } else {
        Cells.push_back(std::move(spareCells_.back()));
        spareCells_.pop_back();
      }
    }
    std::string& cell = Cells[count++];
    cell.clear();
    cell.append(text + start, pos - start);
    if (pos < length && isReturn(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos < length && isLineFeed(static_cast<unsigned char>(text[pos]))) ++pos;
  }
  while (Cells.size() > count) {
    spareCells_.push_back(std::move(Cells.back()));
    Cells.pop_back();
  }
}

bool TZnFFSRecord::ScanString(const std::string& line, char separator) {
  CellPos = 0;
  ScanCount = 0;
  if (failureSink != nullptr) failureSink->clear();
  // A cell that does not convert: the field takes its default, and the sink hears of it.
  const auto failed = [this](std::size_t field, TZnFFSField& target) {
    target.Value = target.DefValue;
    if (failureSink != nullptr) {
      failureSink->push_back({static_cast<int>(field), CellPos - 1});
    }
  };
  const std::size_t fieldCount = Fields.size();
  if (fieldCount == 0) {
    SplitCells({}, separator);  // no cells; their buffers are kept for later lines
    return false;
  }
  if (platform::IsBlank(line)) {
    SplitCells({}, separator);
    for (std::size_t i = 0; i < fieldCount; ++i) {
      TZnFFSField& field = *Fields[i];
      if (!field.NoScan) field.Value = field.DefValue;
    }
    return false;
  }

  SplitCells(line, separator);
  const char decimal = FormatSettings.DecimalSeparator;
  const char otherDecimal = decimal == '.' ? ',' : (decimal == ',' ? '.' : '\0');
  const std::size_t cellCount = Cells.size();
  for (std::size_t i = 0; i < fieldCount; ++i) {
    TZnFFSField& field = *Fields[i];
    if (field.NoScan) continue;
    if (static_cast<std::size_t>(CellPos) >= cellCount) {
      field.Value = field.DefValue;
      continue;
    }
    const std::string& cell = Cells[static_cast<std::size_t>(CellPos++)];
    if (platform::IsBlank(cell)) {
      field.Value = field.DefValue;
      continue;
    }

    const std::string_view type = field.Type;
    if (type == "varchar") {
      StoreText(field.Value, platform::TrimView(cell));
      ++ScanCount;
      continue;
    }
    // Numbers are read as VarValFromString reads them, straight into the value.
    if (type == "float") {
      // Either decimal mark reads as the locale's one; the cell is copied only when it
      // holds the other one.
      std::string_view text = cell;
      if (otherDecimal != 0 && text.find(otherDecimal) != std::string_view::npos) {
        scratch_.assign(cell);
        std::replace(scratch_.begin(), scratch_.end(), otherDecimal, decimal);
        text = scratch_;
      }
      double number = 0;
      if (platform::TryStrToFloat(text, number)) {
        field.Value = Variant::Double(number);
        ++ScanCount;
      } else {
        failed(i, field);
      }
      continue;
    }
    if (type == "integer") {
      std::int32_t number = 0;
      if (platform::TryStrToInt(platform::TrimView(cell), number)) {
        field.Value = Variant::Integer(number);
        ++ScanCount;
      } else {
        failed(i, field);
      }
      continue;
    }
    Variant converted;
    if (type == "datetime") {
      converted = VarValFromString(cell, varDate);
    } else {
      // "char" and any type name written by other means: the cell as it stands.
      StoreText(field.Value, cell);
      ++ScanCount;
      continue;
    }
    if (converted.IsNull()) {
      failed(i, field);
    } else {
      ++ScanCount;
      field.Value = std::move(converted);
    }
  }
  return true;
}
