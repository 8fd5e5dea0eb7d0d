#pragma once
// The record layer of the BIFF8 workbook stream, shared by the parts of the .xls reader:
// the record types, little-endian fields, RK values, error codes, strings and the
// readers of records and of records continued by CONTINUE records.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sheet/CompoundFile.h"
#include "sheet/Workbook.h"

namespace sheet {
namespace xls {

// Record types of the BIFF8 workbook stream that carry values or their formatting.
enum Record : std::uint16_t {
  kFormula = 0x0006,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFilePass = 0x002F,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kArray = 0x0221,
  kTable = 0x0236,
  kRk = 0x027E,
  kFormat = 0x041E,
  kShrFmla = 0x04BC,
  kBof = 0x0809,
};

constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kBiff5 = 0x0500;

inline std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline double F64(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// "0x" and four hexadecimal digits, for messages.
std::string Hex(std::uint16_t v);

// An RK value: a double with its low 34 mantissa bits dropped, or a 30-bit integer;
// either optionally divided by 100.
double DecodeRk(std::uint32_t rk);

// The text of an error code of a cell or a formula result.
const char* ErrorText(std::uint8_t code);

// UTF-16 code units to UTF-8 in a reused buffer.
void Utf16ToUtf8(const std::u16string& units, std::string& out);

// A string inside one record body: a character count of one or two bytes, the option
// byte and the characters. Returns false when the body is too short.
bool ParseShortString(const std::uint8_t* body, std::size_t length, std::size_t pos, bool count16,
                      std::string& out);

// Walks the records of the workbook stream through a window of the stream. Body() stays
// valid until the next call of Next() or Seek().
class RecordReader {
 public:
  explicit RecordReader(const cfb::StreamReader& stream) : stream_(stream), window_(kWindow) {}

  void Seek(std::uint64_t pos) {
    next_ = pos;
    current_ = pos;
    bodyLength_ = 0;
  }

  // Reads the next record; false at the end of the stream.
  bool Next() {
    const std::uint64_t size = stream_.Size();
    if (next_ >= size) return false;
    if (size - next_ < 4) {
      throw WorkbookError("damaged workbook: a record header runs past the end of the stream");
    }
    Ensure(next_, 4, next_);
    const std::uint8_t* header = At(next_);
    type_ = U16(header);
    bodyLength_ = U16(header + 2);
    if (size - next_ - 4 < bodyLength_) {
      throw WorkbookError("damaged workbook: record " + Hex(type_) +
                          " runs past the end of the stream (truncated file)");
    }
    Ensure(next_, 4 + bodyLength_, next_);
    current_ = next_;
    next_ += 4 + bodyLength_;
    return true;
  }

  // The type of the record after the current one, if there is one. Keeps Body() valid.
  std::optional<std::uint16_t> PeekType() {
    if (stream_.Size() < 2 || next_ > stream_.Size() - 2) return std::nullopt;
    Ensure(next_, 2, current_);
    return U16(At(next_));
  }

  std::uint16_t Type() const { return type_; }
  std::size_t Length() const { return bodyLength_; }
  const std::uint8_t* Body() const { return At(current_ + 4); }

 private:
  // Room for the largest record (4 + 65535 bytes) and the header after it.
  static constexpr std::size_t kWindow = 128 * 1024;

  const std::uint8_t* At(std::uint64_t pos) const {
    return window_.data() + static_cast<std::size_t>(pos - windowStart_);
  }

  // Makes [pos, pos + n) available in the window; a refill starts at `from` (<= pos).
  void Ensure(std::uint64_t pos, std::size_t n, std::uint64_t from) {
    if (pos >= windowStart_ && pos + n <= windowStart_ + windowLength_) return;
    std::size_t length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, stream_.Size() - from));
    stream_.Read(from, window_.data(), length);
    windowStart_ = from;
    windowLength_ = length;
  }

  const cfb::StreamReader& stream_;
  std::vector<std::uint8_t> window_;
  std::uint64_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
  std::uint64_t next_ = 0;
  std::uint64_t current_ = 0;
  std::uint16_t type_ = 0;
  std::size_t bodyLength_ = 0;
};

// Reads the body of a record together with the CONTINUE records that follow it, as the
// long records (shared strings, long formula strings) are split.
class ContinuedReader {
 public:
  ContinuedReader(RecordReader& records, const char* what)
      : records_(records), what_(what), length_(records.Length()) {}

  std::uint8_t U8() {
    Need();
    return records_.Body()[pos_++];
  }
  std::uint16_t U16() {
    std::uint8_t lo = U8();
    return static_cast<std::uint16_t>(lo | (U8() << 8));
  }
  std::uint32_t U32() {
    std::uint32_t lo = U16();
    return lo | (std::uint32_t{U16()} << 16);
  }

  // Skips bytes across record boundaries (formatting runs, phonetic data).
  void Skip(std::uint64_t n) {
    while (n > 0) {
      Need();
      std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(n, length_ - pos_));
      pos_ += step;
      n -= step;
    }
  }

  // Appends `count` characters as UTF-16 units. Where the characters continue in the next
  // record, that record begins with a new option byte whose bit 0 tells again whether
  // they are stored as one byte (Latin-1) or as two.
  void Chars(std::size_t count, bool wide, std::u16string& out) {
    while (count > 0) {
      if (pos_ == length_) {
        NextSegment();
        wide = (U8() & 1) != 0;
        continue;
      }
      const std::uint8_t* body = records_.Body();
      std::size_t width = wide ? 2 : 1;
      std::size_t available = (length_ - pos_) / width;
      if (available == 0) Truncated();  // half a character before the boundary
      std::size_t take = std::min(count, available);
      if (wide) {
        for (std::size_t i = 0; i < take; ++i) {
          out += static_cast<char16_t>(body[pos_ + 2 * i] | (body[pos_ + 2 * i + 1] << 8));
        }
      } else {
        for (std::size_t i = 0; i < take; ++i) out += static_cast<char16_t>(body[pos_ + i]);
      }
      pos_ += take * width;
      count -= take;
    }
  }

  // True when the record and its continuations are used up.
  bool AtEnd() {
    while (pos_ == length_) {
      std::optional<std::uint16_t> next = records_.PeekType();
      if (!next || *next != kContinue) return true;
      NextSegment();
    }
    return false;
  }

 private:
  void Need() {
    while (pos_ == length_) NextSegment();
  }
  void NextSegment() {
    std::optional<std::uint16_t> next = records_.PeekType();
    if (!next || *next != kContinue) Truncated();
    records_.Next();
    pos_ = 0;
    length_ = records_.Length();
  }
  [[noreturn]] void Truncated() const {
    throw WorkbookError(std::string("damaged workbook: the ") + what_ + " is truncated");
  }

  RecordReader& records_;
  const char* what_;
  std::size_t pos_ = 0;
  std::size_t length_;
};

}  // namespace xls
}  // namespace sheet
