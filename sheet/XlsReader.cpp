#include "sheet/XlsReader.h"

#include "sheet/CompoundFile.h"
#include "sheet/DateSerial.h"
#include "sheet/XlsRecords.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

namespace sheet {
namespace xls {
namespace {

const char kOldFormat[] =
    "unsupported old Excel format (Excel 5.0/95 or older); save the workbook in the Excel "
    "97-2003 format or newer";
const char kEncrypted[] = "the workbook is encrypted (password protected)";

struct SheetInfo {
  std::string name;
  std::uint32_t offset = 0;
};

class XlsWorkbook final : public WorkbookReader {
 public:
  XlsWorkbook(std::shared_ptr<const cfb::Source> source, const ReaderLimits& limits)
      : limits_(limits), file_(std::move(source)) {
    std::optional<std::size_t> entry = file_.FindInRoot("Workbook");
    if (!entry || file_.Entries()[*entry].type != cfb::EntryType::Stream) {
      if (file_.FindInRoot("Book")) throw WorkbookError(kOldFormat);
      if (file_.FindInRoot("EncryptedPackage")) throw EncryptedWorkbookError(kEncrypted);
      throw WorkbookError("not an Excel workbook: the compound file holds no Workbook stream");
    }
    stream_ = std::make_unique<cfb::StreamReader>(file_.OpenStream(*entry));
    ReadGlobals();
  }

  std::vector<std::string> SheetNames() const override {
    std::vector<std::string> names;
    names.reserve(sheets_.size());
    for (const SheetInfo& s : sheets_) names.push_back(s.name);
    return names;
  }

  void ReadSheet(std::size_t index, CellSink& sink) override;

 private:
  void ReadGlobals();
  void ReadSst(RecordReader& records);
  ReaderLimits limits_;
  cfb::CompoundFile file_;
  std::unique_ptr<cfb::StreamReader> stream_;
  std::vector<SheetInfo> sheets_;
  std::vector<std::string> strings_;
  NumberFormats formats_;
};

void XlsWorkbook::ReadGlobals() {
  RecordReader records(*stream_);
  if (!records.Next() || records.Type() != kBof || records.Length() < 4) {
    throw WorkbookError("not an Excel workbook: the Workbook stream does not begin with BOF");
  }
  std::uint16_t version = U16(records.Body());
  if (version == kBiff5 || version < kBiff5) throw WorkbookError(kOldFormat);
  if (version != kBiff8) {
    throw WorkbookError("unknown Excel format version " + Hex(version));
  }
  while (records.Next()) {
    const std::uint8_t* body = records.Body();
    const std::size_t length = records.Length();
    switch (records.Type()) {
      case kEof:
        return;
      case kFilePass:
        throw EncryptedWorkbookError(kEncrypted);
      case kDateMode:
        if (length >= 2) formats_.SetDate1904(U16(body) == 1);
        break;
      case kCodePage:
        // BIFF8 strings are Latin-1 or UTF-16 whatever the code page says.
        break;
      case kXf:
        formats_.AddCellFormat(length >= 4 ? U16(body + 2) : 0);
        break;
      case kFormat: {
        std::string code;
        if (length >= 2 && ParseShortString(body, length, 2, true, code)) {
          formats_.Define(U16(body), code);
        }
        break;
      }
      case kBoundSheet: {
        SheetInfo sheet;
        if (length < 8 || !ParseShortString(body, length, 6, false, sheet.name)) {
          throw WorkbookError("damaged workbook: a sheet entry (BOUNDSHEET) is too short");
        }
        // Sheet type 0 is a worksheet (or dialog); charts, macro sheets and modules are
        // not tables of values.
        if (body[5] == 0) {
          sheet.offset = U32(body);
          sheets_.push_back(std::move(sheet));
        }
        break;
      }
      case kSst:
        ReadSst(records);
        break;
      default:
        break;
    }
  }
  throw WorkbookError("damaged workbook: the workbook globals end without EOF (truncated file)");
}

void XlsWorkbook::ReadSst(RecordReader& records) {
  if (records.Length() < 8) throw WorkbookError("damaged workbook: the string table is too short");
  const std::uint32_t unique = U32(records.Body() + 4);
  if (unique > limits_.maxSharedStrings) {
    throw WorkbookError("the workbook's string table has " + std::to_string(unique) +
                        " entries, more than the reader's limit of " +
                        std::to_string(limits_.maxSharedStrings));
  }
  ContinuedReader in(records, "shared string table");
  in.Skip(8);
  // Each string takes at least three bytes; do not trust the count for the reservation.
  strings_.reserve(std::min<std::size_t>(unique, stream_->Size() / 3));
  std::uint64_t totalBytes = 0;
  std::u16string units;
  for (std::uint32_t i = 0; i < unique; ++i) {
    if (in.AtEnd()) break;  // fewer strings than announced: the cells tell whether any lack
    std::uint16_t count = in.U16();
    std::uint8_t flags = in.U8();
    std::uint16_t runs = (flags & 0x08) ? in.U16() : 0;
    std::uint32_t phonetic = (flags & 0x04) ? in.U32() : 0;
    units.clear();
    in.Chars(count, (flags & 1) != 0, units);
    in.Skip(std::uint64_t{runs} * 4);
    in.Skip(phonetic);
    std::string text;
    Utf16ToUtf8(units, text);
    totalBytes += text.size();
    if (totalBytes > limits_.maxStringBytes) {
      throw WorkbookError("the workbook's strings exceed the reader's limit of " +
                          std::to_string(limits_.maxStringBytes) + " bytes");
    }
    strings_.push_back(std::move(text));
  }
}

class SheetScanner {
 public:
  SheetScanner(CellSink& sink, const ReaderLimits& limits) : sink_(sink), limits_(limits) {}

  void Emit(std::uint16_t row, std::uint16_t column) {
    if (row >= limits_.maxRows || column >= limits_.maxColumns) {
      throw LimitError("a cell lies beyond the reader's limit of " +
                       std::to_string(limits_.maxRows) + " rows and " +
                       std::to_string(limits_.maxColumns) + " columns");
    }
    sink_.OnCell(row, column, cell_);
  }

  Cell cell_;

 private:
  CellSink& sink_;
  const ReaderLimits& limits_;
};

void XlsWorkbook::ReadSheet(std::size_t index, CellSink& sink) {
  if (index >= sheets_.size()) {
    throw WorkbookError("the workbook has no worksheet number " + std::to_string(index + 1));
  }
  const SheetInfo& sheet = sheets_[index];
  const std::string where = "worksheet \"" + sheet.name + "\"";
  RecordReader records(*stream_);
  records.Seek(sheet.offset);
  if (!records.Next() || records.Type() != kBof) {
    throw WorkbookError("damaged workbook: the data of the " + where +
                        " is not where the workbook says");
  }
  SheetScanner out(sink, limits_);
  Cell& cell = out.cell_;
  auto number = [&](std::uint16_t xf, double value) {
    if (!std::isfinite(value)) {
      // Not a number a spreadsheet can hold; it shows such a result as this error.
      cell.kind = Cell::Kind::Error;
      cell.number = 0;
      cell.text = "#NUM!";
      return;
    }
    formats_.SetNumber(cell, value, xf);
    cell.text.clear();
  };
  auto tooShort = [&](std::uint16_t type) {
    throw WorkbookError("damaged workbook: a cell record (" + Hex(type) + ") of the " + where +
                        " is too short");
  };

  // A formula whose cached result is a string: the string follows in a STRING record,
  // after any shared-formula or array records.
  bool pendingString = false;
  std::uint16_t pendingRow = 0;
  std::uint16_t pendingColumn = 0;
  auto flushPending = [&]() {
    if (!pendingString) return;
    pendingString = false;
    cell.kind = Cell::Kind::Text;
    cell.number = 0;
    cell.text.clear();
    out.Emit(pendingRow, pendingColumn);
  };

  int depth = 1;
  std::u16string units;
  while (records.Next()) {
    const std::uint16_t type = records.Type();
    const std::uint8_t* body = records.Body();
    const std::size_t length = records.Length();
    if (type == kBof) {
      ++depth;  // an embedded chart's substream
      continue;
    }
    if (type == kEof) {
      if (--depth == 0) {
        flushPending();
        return;
      }
      continue;
    }
    if (depth != 1) continue;
    if (pendingString) {
      if (type == kString) {
        ContinuedReader in(records, "formula result string");
        std::uint16_t count = in.U16();
        std::uint8_t flags = in.U8();
        units.clear();
        in.Chars(count, (flags & 1) != 0, units);
        pendingString = false;
        cell.kind = Cell::Kind::Text;
        cell.number = 0;
        Utf16ToUtf8(units, cell.text);
        out.Emit(pendingRow, pendingColumn);
        continue;
      }
      if (type == kShrFmla || type == kArray || type == kTable || type == kContinue) continue;
      flushPending();
    }
    switch (type) {
      case kNumber:
        if (length < 14) tooShort(type);
        number(U16(body + 4), F64(body + 6));
        out.Emit(U16(body), U16(body + 2));
        break;
      case kRk:
        if (length < 10) tooShort(type);
        number(U16(body + 4), DecodeRk(U32(body + 6)));
        out.Emit(U16(body), U16(body + 2));
        break;
      case kMulRk: {
        if (length < 12) tooShort(type);
        const std::uint16_t row = U16(body);
        const std::uint32_t first = U16(body + 2);
        const std::size_t count = (length - 6) / 6;
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint8_t* item = body + 4 + 6 * i;
          number(U16(item), DecodeRk(U32(item + 2)));
          const std::uint32_t column = first + static_cast<std::uint32_t>(i);
          if (column > 0xFFFF) break;
          out.Emit(row, static_cast<std::uint16_t>(column));
        }
        break;
      }
      case kLabelSst: {
        if (length < 10) tooShort(type);
        std::uint32_t at = U32(body + 6);
        if (at >= strings_.size()) {
          throw WorkbookError("damaged workbook: a cell of the " + where +
                              " refers to shared string " + std::to_string(at) +
                              ", which the string table lacks");
        }
        cell.kind = Cell::Kind::Text;
        cell.number = 0;
        cell.text = strings_[at];
        out.Emit(U16(body), U16(body + 2));
        break;
      }
      case kLabel:
      case kRString:
        cell.kind = Cell::Kind::Text;
        cell.number = 0;
        if (!ParseShortString(body, length, 6, true, cell.text)) tooShort(type);
        out.Emit(U16(body), U16(body + 2));
        break;
      case kBoolErr:
        if (length < 8) tooShort(type);
        cell.number = 0;
        cell.text.clear();
        if (body[7] != 0) {
          cell.kind = Cell::Kind::Error;
          cell.text = ErrorText(body[6]);
        } else {
          cell.kind = Cell::Kind::Boolean;
          cell.number = body[6] != 0 ? 1 : 0;
        }
        out.Emit(U16(body), U16(body + 2));
        break;
      case kFormula: {
        if (length < 20) tooShort(type);
        const std::uint8_t* result = body + 6;
        const std::uint16_t row = U16(body);
        const std::uint16_t column = U16(body + 2);
        if (U16(result + 6) != 0xFFFF) {
          number(U16(body + 4), F64(result));
          out.Emit(row, column);
          break;
        }
        cell.number = 0;
        cell.text.clear();
        switch (result[0]) {
          case 0:  // string, in the STRING record that follows
            pendingString = true;
            pendingRow = row;
            pendingColumn = column;
            break;
          case 1:
            cell.kind = Cell::Kind::Boolean;
            cell.number = result[2] != 0 ? 1 : 0;
            out.Emit(row, column);
            break;
          case 2:
            cell.kind = Cell::Kind::Error;
            cell.text = ErrorText(result[2]);
            out.Emit(row, column);
            break;
          case 3:  // the empty string
            cell.kind = Cell::Kind::Text;
            out.Emit(row, column);
            break;
          default:
            break;  // no cached result
        }
        break;
      }
      default:
        break;  // blanks, formatting, row and column records
    }
  }
  throw WorkbookError("damaged workbook: the " + where + " ends without EOF (truncated file)");
}

bool IsOldBiffSignature(const std::vector<std::uint8_t>& head) {
  // BOF records of the stand-alone Excel 2.x, 3.0 and 4.0 worksheet files.
  if (head.size() < 4 || head[0] != 0x09) return false;
  return head[1] == 0x00 || head[1] == 0x02 || head[1] == 0x04;
}

std::unique_ptr<WorkbookReader> Open(std::shared_ptr<const cfb::Source> source,
                                     const ReaderLimits& limits) {
  std::vector<std::uint8_t> head(8);
  head.resize(source->ReadAt(0, head.data(), head.size()));
  if (!cfb::HasSignature(head.data(), head.size())) {
    if (IsOldBiffSignature(head)) throw WorkbookError(kOldFormat);
    throw WorkbookError("not an Excel 97-2003 workbook (no compound file signature)");
  }
  return std::make_unique<XlsWorkbook>(std::move(source), limits);
}

}  // namespace

std::unique_ptr<WorkbookReader> OpenXlsBytes(std::vector<std::uint8_t> bytes,
                                             const ReaderLimits& limits) {
  return Open(cfb::MakeMemorySource(std::move(bytes)), limits);
}

}  // namespace xls

std::unique_ptr<WorkbookReader> OpenXls(const std::string& path, const ReaderLimits& limits) {
  return xls::Open(cfb::OpenFileSource(path), limits);
}

}  // namespace sheet
