#pragma once
// The native workbook engine's reader interface: each file format (.xlsx/.xlsm, .ods,
// .xls) has a reader that lists the sheets and streams one sheet's cells in file order.
// Readers never hold a whole sheet in memory.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Limits.h"
#include "platform/Exception.h"

namespace sheet {

// A cell as the workbook stores it, before it is rendered as text.
struct Cell {
  enum class Kind : std::uint8_t { Empty, Number, Text, Boolean, Error, DateTime };
  Kind kind = Kind::Empty;
  // Number: the value. DateTime: days since 1899-12-30 (the 1904 system already
  // converted). Boolean: 0 or 1.
  double number = 0.0;
  // Text: the string (UTF-8). Error: the error as the spreadsheet shows it ("#DIV/0!").
  std::string text;
};

// Receives one sheet's cells. Rows and columns are 0-based. Readers deliver cells in the
// order the file holds them, which is row-major for every writer seen in practice; a
// consumer must tolerate a cell for an earlier row or column.
class CellSink {
 public:
  virtual ~CellSink() = default;
  virtual void OnCell(std::uint32_t row, std::uint32_t column, const Cell& cell) = 0;
};

// A file that is not a workbook of the reader's format, or is corrupt, truncated or
// beyond the reader's limits. The message names the cause for the user.
class WorkbookError : public Exception {
 public:
  using Exception::Exception;
};

// A workbook of a kind the readers do not handle: a binary workbook (.xlsb), an
// encrypted one, an Excel 2.1-4.0 worksheet. The engine may hand such a file to an
// office suite for conversion.
class UnsupportedWorkbookError : public WorkbookError {
 public:
  using WorkbookError::WorkbookError;
};

// A workbook protected by a password: its cells cannot be read without it.
class EncryptedWorkbookError : public UnsupportedWorkbookError {
 public:
  using UnsupportedWorkbookError::UnsupportedWorkbookError;
};

class WorkbookReader {
 public:
  virtual ~WorkbookReader() = default;
  virtual std::vector<std::string> SheetNames() const = 0;
  // Streams the cells of the sheet at `index` (0-based) to `sink`. May be called again,
  // for the same or another sheet.
  virtual void ReadSheet(std::size_t index, CellSink& sink) = 0;
};

// A file that asks for more than a limit of the conversion allows (ReaderLimits): the
// message names the limit and the environment variable that sets it.
class LimitError : public WorkbookError {
 public:
  using WorkbookError::WorkbookError;
};

using platform::LimitFromEnvironment;

// Limits that keep a hostile file from exhausting memory or time. Three of them can be
// set through the environment; a value that is no positive number keeps the default:
//
//   TANKLOAD_MAX_CELL_CHARS  characters in the text of one cell (default 32767, the
//                            spreadsheet application's own limit)
//   TANKLOAD_MAX_XML_DEPTH   nesting depth of elements in an XML part (default 256)
//   TANKLOAD_MAX_TEXT_BYTES  bytes of text one conversion writes (default 1 GiB);
//                            repeated cells and rows and reused strings count in full
//
// Memory while reading stays bounded by these limits: a cell's text is refused while it
// grows past four bytes per allowed character, repeated cells are expanded only as they
// are delivered, and nesting is refused before it deepens.
struct ReaderLimits {
  static constexpr std::uint64_t kDefaultCellChars = 32767;
  static constexpr std::uint64_t kDefaultXmlDepth = 256;
  static constexpr std::uint64_t kDefaultTextBytes = platform::kDefaultMaxTextBytes;

  std::uint64_t maxDecompressedPart = 512ull << 20;  // one zip member
  std::uint64_t maxSharedStrings = 16ull << 20;      // entries
  std::uint64_t maxStringBytes = 256ull << 20;       // all shared strings together
  std::uint32_t maxRows = 1048576;
  std::uint32_t maxColumns = 16384;
  std::uint64_t maxCellChars = LimitFromEnvironment("TANKLOAD_MAX_CELL_CHARS", kDefaultCellChars);
  std::uint64_t maxXmlDepth = LimitFromEnvironment("TANKLOAD_MAX_XML_DEPTH", kDefaultXmlDepth);
  std::uint64_t maxTextBytes = LimitFromEnvironment("TANKLOAD_MAX_TEXT_BYTES", kDefaultTextBytes);

  // Bytes of one cell's text in UTF-8 at most, while it is being read.
  std::uint64_t MaxCellBytes() const { return maxCellChars * 4; }
};

// The messages of the limits, for the reader or writer that finds one passed.
[[noreturn]] void ThrowCellTooLong(const std::string& where, std::uint64_t limitChars);
[[noreturn]] void ThrowTooDeep(const std::string& part, std::uint64_t limit);
[[noreturn]] void ThrowTooMuchText(std::uint64_t limit);

std::unique_ptr<WorkbookReader> OpenXlsx(const std::string& path, const ReaderLimits& = {});
std::unique_ptr<WorkbookReader> OpenOds(const std::string& path, const ReaderLimits& = {});
std::unique_ptr<WorkbookReader> OpenXls(const std::string& path, const ReaderLimits& = {});

// Reader for a file by its content (zip with xl/workbook.xml or content.xml of an
// OpenDocument spreadsheet, compound file with a Workbook stream); raises WorkbookError
// for anything else, UnsupportedWorkbookError for the kinds named there (for a password-
// protected workbook EncryptedWorkbookError).
std::unique_ptr<WorkbookReader> OpenWorkbook(const std::string& path, const ReaderLimits& = {});

}  // namespace sheet
