#include "sheet/TextWriter.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "platform/TempFiles.h"

namespace sheet {
namespace {

constexpr double kSecondsPerDay = 86400.0;

std::string DateTimeText(double value) {
  // The time is shown to the second, rounded as the spreadsheet rounds it; rounding first
  // also keeps a value a hair below midnight from showing "23:59:59" on the day before.
  const double rounded = std::round(value * kSecondsPerDay) / kSecondsPerDay;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  if (!platform::TryDecodeDateTime(rounded, year, month, day, hour, minute, second, ms)) {
    return platform::FloatToStrGeneral(value);  // beyond the calendar: show the number
  }
  const double whole = std::trunc(rounded);
  const bool hasTime = rounded != whole;
  if (whole == 0.0 && hasTime) return platform::FormatDateTime("tt", rounded);
  std::string text = platform::FormatDateTime("ddddd", rounded);
  if (hasTime) {
    text += ' ';
    text += platform::FormatDateTime("tt", rounded);
  }
  return text;
}

// Appends what platform::FloatToStrGeneral gives for a finite `value` (up to 15
// significant digits, trailing zeros dropped, an exponent where %g would use one), but
// by the shortest round-trip digits, which are several times quicker to find and are the
// same digits whenever there are no more than 15 of them (for a normal double, whose
// rounding interval is narrower than a unit of the 15th digit); the rest go the slow way.
void AppendNumber(std::string& out, double value) {
  if (value == 0) {
    out += '0';
    return;
  }
  // Most values of a sheet have a few decimals: when r / 10^k gives back the value for
  // the fewest decimals k, r (below 10^15) holds exactly the shortest digits. A wider
  // rounding interval than a unit of r is impossible there, so no other r would do.
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e-4 && magnitude < 1e15) {
    static constexpr double kPowers[] = {1, 10, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    for (int k = 0; k < 9; ++k) {
      // Below 10^15 adding a half is exact, and the conversion truncates: the nearest
      // integer, which is all the check below needs.
      const double product = magnitude * kPowers[k];
      if (product >= 1e15) break;
      const auto integer = static_cast<std::int64_t>(product + 0.5);
      const auto scaled = static_cast<double>(integer);
      if (scaled >= 1e15) break;
      if (scaled / kPowers[k] != magnitude) continue;
      // Room before the digits for the zeros of a value below 1 ("0.0012").
      char digits[40];
      char* first = digits + 16;
      const auto n =
          static_cast<int>(std::to_chars(first, digits + sizeof digits, integer).ptr - first);
      int count = n;
      while (count <= k) {
        *--first = '0';
        ++count;
      }
      // Laid out in place: the sign before the digits, the point moved in.
      char* const last = first + count;
      if (k > 0) {
        for (char* d = last; d != last - k; --d) *d = d[-1];
        last[-k] = FormatSettings.DecimalSeparator;
      }
      if (value < 0) *--first = '-';
      out.append(first, static_cast<std::size_t>(last + (k > 0 ? 1 : 0) - first));
      return;
    }
  }
  if (magnitude < DBL_MIN) {  // subnormal: fewer bits than 15 digits need
    out += platform::FloatToStrGeneral(value);
    return;
  }
  char buffer[40];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  // "-d.ddde+XX"
  const char* p = buffer;
  const char* const end = result.ptr;
  const bool negative = *p == '-';
  if (negative) ++p;
  char digits[24];
  int count = 0;
  for (; p != end && *p != 'e'; ++p) {
    if (*p == '.') continue;
    if (count == 17) break;
    digits[count++] = *p;
  }
  if (p == end || count > 15) {
    out += platform::FloatToStrGeneral(value);
    return;
  }
  int exponent = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
  while (count > 1 && digits[count - 1] == '0') --count;
  const char point = FormatSettings.DecimalSeparator;
  if (negative) out += '-';
  if (exponent < -4 || exponent >= 15) {
    out += digits[0];
    if (count > 1) {
      out += point;
      out.append(digits + 1, static_cast<std::size_t>(count - 1));
    }
    out += 'E';
    out += exponent < 0 ? '-' : '+';
    const int power = exponent < 0 ? -exponent : exponent;
    if (power < 10) out += '0';
    char e[8];
    out.append(e, std::to_chars(e, e + sizeof e, power).ptr);
  } else if (exponent < 0) {
    out += '0';
    out += point;
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits, static_cast<std::size_t>(count));
  } else {
    const int whole = exponent + 1;
    if (count <= whole) {
      out.append(digits, static_cast<std::size_t>(count));
      out.append(static_cast<std::size_t>(whole - count), '0');
    } else {
      out.append(digits, static_cast<std::size_t>(whole));
      out += point;
      out.append(digits + whole, static_cast<std::size_t>(count - whole));
    }
  }
}

// Appends the text of `cell` (see CellText) to `out`.
void AppendCellText(std::string& out, const Cell& cell) {
  switch (cell.kind) {
    case Cell::Kind::Empty:
      return;
    case Cell::Kind::Number:
      if (!std::isfinite(cell.number)) {
        out += "#NUM!";
      } else {
        AppendNumber(out, cell.number);
      }
      return;
    case Cell::Kind::DateTime:
      out += std::isfinite(cell.number) ? DateTimeText(cell.number) : std::string("#NUM!");
      return;
    case Cell::Kind::Boolean:
      out += cell.number != 0.0 ? "TRUE" : "FALSE";
      return;
    case Cell::Kind::Text:
    case Cell::Kind::Error: {
      const std::size_t start = out.size();
      out += cell.text;
      for (auto it = out.begin() + static_cast<std::ptrdiff_t>(start); it != out.end(); ++it) {
        if (*it == '\t' || *it == '\r' || *it == '\n') *it = ' ';
      }
      return;
    }
  }
}

// True when the cell shows as empty text, and so leaves its row as it is.
bool ShowsEmpty(const Cell& cell) {
  return cell.kind == Cell::Kind::Empty ||
         ((cell.kind == Cell::Kind::Text || cell.kind == Cell::Kind::Error) && cell.text.empty());
}

// Characters of a text in UTF-8: the bytes that do not continue a sequence.
std::uint64_t CountCharacters(std::string_view text) {
  std::uint64_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string CellName(std::uint32_t row, std::uint32_t column) {
  std::string letters;
  for (std::uint64_t n = std::uint64_t{column} + 1; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  }
  return letters + std::to_string(std::uint64_t{row} + 1);
}

void CheckCellLength(std::uint32_t row, std::uint32_t column, const Cell& cell,
                     const ReaderLimits& limits) {
  if (cell.kind != Cell::Kind::Text && cell.kind != Cell::Kind::Error) return;
  if (cell.text.size() <= limits.maxCellChars) return;  // fewer characters than bytes
  if (CountCharacters(cell.text) > limits.maxCellChars) {
    ThrowCellTooLong("the text of cell " + CellName(row, column), limits.maxCellChars);
  }
}

// The output file: written through a buffer into a platform::AtomicFile, which puts it
// in place on Commit() and removes it otherwise; while the temporary file exists it is
// registered for removal on SIGINT and SIGTERM. Write errors are recorded rather than
// thrown, because the writer runs inside the readers' parser callbacks.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : file_(path) {
    if (file_.Error() != 0) {
      throw EFileError("Cannot create the text file " + path + ": " + std::strerror(file_.Error()));
    }
    // An interrupted conversion leaves no temporary file behind.
    registration_.Reset(file_.TempName());
    buffer_.reserve(kBufferSize);
  }

  void Write(std::string_view bytes) {
    if (file_.Error() != 0) return;
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize) Flush();
  }

  // Starts the file over (the writer's second pass).
  void Rewind() {
    buffer_.clear();
    file_.Rewind();
  }

  void Commit() {
    Flush();
    registration_.Release();  // before the temporary file is renamed
    if (!file_.Commit()) {
      throw EFileError("Cannot write the text file " + file_.Target() + ": " +
                       std::strerror(file_.Error()));
    }
  }

 private:
  static constexpr std::size_t kBufferSize = 1 << 16;

  void Flush() {
    file_.Write(buffer_);
    buffer_.clear();
  }

  platform::AtomicFile file_;
  // Declared after file_, so that it is released before file_ removes the file.
  platform::ScopedTempFile registration_;
  std::string buffer_;
};

// Lays out rows as lines. Rows must come in ascending order; a cell for a row that has
// already been written sets `outOfOrder`, a cell beyond the largest sheet sets
// `outOfRange`, and everything after either is ignored (the writer runs inside the
// readers' callbacks, so it reports by flags, not by exceptions). While the cells of a
// row come in ascending columns, as they do from every writer seen, the line is built
// as they arrive; a cell for an earlier or the same column turns the row into separate
// cells until it ends.
//
// The limits of one cell's characters and of the whole text are checked as each cell
// arrives, before its line is written, and raise LimitError.
class RowWriter : public CellSink {
 public:
  RowWriter(OutputFile& out, const ReaderLimits& limits) : out_(out), limits_(limits) {}

  bool outOfOrder = false;
  bool outOfRange = false;

  void OnCell(std::uint32_t row, std::uint32_t column, const Cell& cell) override {
    if (outOfOrder || outOfRange) return;
    if (row >= limits_.maxRows || column >= limits_.maxColumns) {
      outOfRange = true;
      return;
    }
    if (ShowsEmpty(cell)) return;
    CheckCellLength(row, column, cell, limits_);
    if (!haveRow_ || row != row_) {
      if (haveRow_ && row < row_) {
        outOfOrder = true;
        return;
      }
      FlushRow();
      haveRow_ = true;
      row_ = row;
    }
    if (!split_ && column >= columns_) {
      const std::size_t before = line_.size();
      line_.append(column - columns_ + (columns_ == 0 ? 0 : 1), '\t');
      AppendCellText(line_, cell);
      lineBytes_ += line_.size() - before;
      columns_ = column + 1;
      CheckTotal();
      return;
    }
    if (!split_) Split();
    if (column >= cells_.size()) {
      lineBytes_ += std::size_t{column} + 1 - cells_.size();  // the tabs before it
      cells_.resize(std::size_t{column} + 1);
    }
    lineBytes_ -= cells_[column].size();
    cells_[column].clear();
    AppendCellText(cells_[column], cell);
    lineBytes_ += cells_[column].size();
    CheckTotal();
  }

  void Finish() { FlushRow(); }

 private:
  // The line so far as separate cells (a cell's text holds no tab).
  void Split() {
    split_ = true;
    cells_.clear();
    std::size_t begin = 0;
    for (;;) {
      const auto tab = line_.find('\t', begin);
      cells_.push_back(line_.substr(begin, tab - begin));
      if (tab == std::string::npos) break;
      begin = tab + 1;
    }
  }

  // The text written so far, the empty lines before the current row and the row itself
  // stay within the limit of the whole text.
  void CheckTotal() const {
    const std::uint64_t emptyLines = 2 * (row_ - nextRow_);
    if (written_ + emptyLines + lineBytes_ + 2 > limits_.maxTextBytes) {
      ThrowTooMuchText(limits_.maxTextBytes);
    }
  }

  void FlushRow() {
    if (!haveRow_) return;
    written_ += 2 * (row_ - nextRow_) + lineBytes_ + 2;
    lineBytes_ = 0;
    for (; nextRow_ < row_; ++nextRow_) out_.Write("\r\n");
    if (split_) {
      std::size_t used = cells_.size();
      while (used > 0 && cells_[used - 1].empty()) --used;
      line_.clear();
      for (std::size_t i = 0; i < used; ++i) {
        if (i > 0) line_ += '\t';
        line_ += cells_[i];
      }
      cells_.clear();
      split_ = false;
    }
    line_ += "\r\n";
    out_.Write(line_);
    line_.clear();
    columns_ = 0;
    nextRow_ = std::uint64_t{row_} + 1;
    haveRow_ = false;
  }

  OutputFile& out_;
  const ReaderLimits& limits_;
  std::uint64_t written_ = 0;    // bytes of the lines written
  std::uint64_t lineBytes_ = 0;  // bytes of the current row's line, without its break
  bool haveRow_ = false;
  bool split_ = false;
  std::uint32_t row_ = 0;
  std::uint64_t nextRow_ = 0;  // the row whose line comes next
  std::uint64_t columns_ = 0;  // columns in `line_`
  std::string line_;
  std::vector<std::string> cells_;
};

// Collects a whole sheet in row-major order, for readers that deliver rows out of order.
// It holds no more text than the limit of the whole text allows (each cell writes at
// least one byte besides its text), and no more than kMaxCells cells.
class SortingSink : public CellSink {
 public:
  static constexpr std::size_t kMaxCells = 4u << 20;

  explicit SortingSink(const ReaderLimits& limits) : limits_(limits) {}

  void OnCell(std::uint32_t row, std::uint32_t column, const Cell& cell) override {
    if (ShowsEmpty(cell)) return;
    CheckCellLength(row, column, cell, limits_);
    text_ += 1 + cell.text.size();
    if (text_ > limits_.maxTextBytes) ThrowTooMuchText(limits_.maxTextBytes);
    cells[{row, column}] = cell;
    if (cells.size() > kMaxCells) {
      throw LimitError("the sheet lists its rows out of order, and has more than " +
                       std::to_string(kMaxCells) + " cells to put in order");
    }
  }
  std::map<std::pair<std::uint32_t, std::uint32_t>, Cell> cells;

 private:
  const ReaderLimits& limits_;
  std::uint64_t text_ = 0;
};

void CheckRange(const RowWriter& rows, const ReaderLimits& limits) {
  if (rows.outOfRange) {
    throw LimitError("The sheet goes beyond " + std::to_string(limits.maxRows) + " rows or " +
                     std::to_string(limits.maxColumns) + " columns");
  }
}

}  // namespace

std::string CellText(const Cell& cell) {
  std::string text;
  AppendCellText(text, cell);
  return text;
}

void WriteSheetAsText(WorkbookReader& reader, std::size_t index, const std::string& path,
                      const ReaderLimits& limits) {
  OutputFile out(path);
  {
    RowWriter rows(out, limits);
    reader.ReadSheet(index, rows);
    CheckRange(rows, limits);
    if (!rows.outOfOrder) {
      rows.Finish();
      out.Commit();
      return;
    }
  }
  SortingSink sorted(limits);
  reader.ReadSheet(index, sorted);
  out.Rewind();
  RowWriter rows(out, limits);
  for (const auto& [position, cell] : sorted.cells)
    rows.OnCell(position.first, position.second, cell);
  CheckRange(rows, limits);
  rows.Finish();
  out.Commit();
}

}  // namespace sheet
