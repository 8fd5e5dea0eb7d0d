// Reader of OpenDocument spreadsheets (.ods): the sheets are the top-level tables of
// content.xml, streamed row by row. Repeated rows and cells are expanded only when they
// hold a value; the empty rows and columns that fill a sheet to its full size are
// skipped without being expanded.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sheet/Workbook.h"
#include "sheet/XmlParser.h"
#include "sheet/XmlTagScanner.h"
#include "sheet/XmlText.h"
#include "sheet/ZipArchive.h"

namespace sheet {

namespace {

constexpr std::string_view kContent = "content.xml";
constexpr std::string_view kSpreadsheetMime = "application/vnd.oasis.opendocument.spreadsheet";
// Cells that repetition may produce in one sheet beyond those the file spells out: far
// more than a real sheet repeats, far less than a hostile file asks for.
constexpr std::uint64_t kMaxRepeatedCells = 1ull << 24;
// Blanks that one <text:s> may stand for.
constexpr std::uint32_t kMaxSpaces = 1u << 16;

const std::string_view* TableAttr(std::span<const XmlAttribute> attributes,
                                  std::string_view local) {
  return FindAttribute(attributes, XmlNs::Table, local);
}

const std::string_view* OfficeAttr(std::span<const XmlAttribute> attributes,
                                   std::string_view local) {
  return FindAttribute(attributes, XmlNs::Office, local);
}

// A repeat count attribute: 1 when absent or malformed (as office applications read it).
std::uint64_t RepeatCount(const std::string_view* value) {
  if (value == nullptr) return 1;
  const auto count = ParseXmlUnsigned(*value);
  return count && *count > 0 ? *count : 1;
}

// Tracks where the parse is: inside office:spreadsheet, and how deep in tables (a cell
// may hold a table of its own, which is not a sheet).
class TablePosition {
 public:
  // Returns true when `name` starts a sheet.
  bool Start(const XmlName& name) {
    if (name.Is(XmlNs::Office, "spreadsheet")) {
      inSpreadsheet_ = true;
    } else if (inSpreadsheet_ && name.Is(XmlNs::Table, "table")) {
      return ++depth_ == 1;
    }
    return false;
  }
  // Returns true when `name` ends a sheet.
  bool End(const XmlName& name) {
    if (name.Is(XmlNs::Office, "spreadsheet")) {
      inSpreadsheet_ = false;
    } else if (inSpreadsheet_ && name.Is(XmlNs::Table, "table") && depth_ > 0) {
      return --depth_ == 0;
    }
    return false;
  }
  // Inside a sheet and not inside a table nested in one of its cells.
  bool InSheet() const { return depth_ == 1; }

 private:
  bool inSpreadsheet_ = false;
  int depth_ = 0;
};

class SheetNamesHandler : public XmlHandler {
 public:
  void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
    if (position_.Start(name)) {
      const auto* tableName = TableAttr(attributes, "name");
      names.push_back(tableName ? std::string(*tableName) : std::string());
    }
  }
  void OnEnd(const XmlName& name) override { position_.End(name); }
  void OnText(std::string_view) override {}

  std::vector<std::string> names;

 private:
  TablePosition position_;
};

// The same, over the quick tag scan.
class SheetNamesScanner : public XmlTagScanner {
 public:
  explicit SheetNamesScanner(std::uint64_t maxDepth)
      : XmlTagScanner(std::string(kContent), maxDepth) {}
  std::vector<std::string> names;

 protected:
  void OnStart(const XmlName& name, const Tag& tag) override {
    if (position_.Start(name)) {
      const auto* tableName = TableAttr(tag.Attributes(), "name");
      names.push_back(tableName ? std::string(*tableName) : std::string());
    }
  }
  void OnEnd(const XmlName& name) override { position_.End(name); }

 private:
  TablePosition position_;
};

class SheetHandler : public XmlHandler {
 public:
  // With `names`, the whole document is read and the names of all sheets are collected
  // there; otherwise reading stops after the sheet.
  SheetHandler(std::size_t target, CellSink& sink, const ReaderLimits& limits,
               std::vector<std::string>* names = nullptr)
      : target_(target), sink_(sink), limits_(limits), names_(names) {}

  void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
    if (position_.Start(name)) {
      if (names_ != nullptr) {
        const auto* tableName = TableAttr(attributes, "name");
        names_->push_back(tableName ? std::string(*tableName) : std::string());
      }
      active_ = sheetIndex_++ == target_;
      row_ = 0;
      if (!active_) SkipContent();  // of another sheet only the name counts
      return;
    }
    if (!active_ || !position_.InSheet()) return;
    if (inCell_) {
      StartInCell(name, attributes);
    } else if (name.Is(XmlNs::Table, "table-row")) {
      inRow_ = true;
      rowRepeat_ = RepeatCount(TableAttr(attributes, "number-rows-repeated"));
      column_ = 0;
      rowCount_ = 0;
      rowText_ = 0;
    } else if (inRow_ && (name.Is(XmlNs::Table, "table-cell") ||
                          name.Is(XmlNs::Table, "covered-table-cell"))) {
      StartCell(name, attributes);
    }
  }

  void OnEnd(const XmlName& name) override {
    if (position_.End(name)) {
      if (active_ && names_ == nullptr) throw XmlStop();  // the rest is other sheets
      active_ = false;
      return;
    }
    if (!active_ || !position_.InSheet()) return;
    if (inCell_) {
      if (ignoreDepth_ > 0) {
        --ignoreDepth_;
      } else if (name.Is(XmlNs::Table, "table-cell") ||
                 name.Is(XmlNs::Table, "covered-table-cell")) {
        EndCell();
      } else {
        EndInCell(name);
      }
    } else if (inRow_ && name.Is(XmlNs::Table, "table-row")) {
      inRow_ = false;
      EndRow();
    }
  }

  void OnText(std::string_view text) override {
    if (collectText_ && paragraphDepth_ > 0 && ignoreDepth_ == 0) Append(text);
  }

 private:
  void StartCell(const XmlName& name, std::span<const XmlAttribute> attributes) {
    inCell_ = true;
    covered_ = name.local == "covered-table-cell";
    // The attributes every cell may have, in one look.
    const std::string_view* repeat = nullptr;
    const std::string_view* type = nullptr;
    const std::string_view* calcType = nullptr;
    const std::string_view* officeValue = nullptr;
    for (const auto& attribute : attributes) {
      const XmlName& n = attribute.name;
      const std::string_view** slot = nullptr;
      if (n.Is(XmlNs::Table, "number-columns-repeated")) {
        slot = &repeat;
      } else if (n.Is(XmlNs::Office, "value-type")) {
        slot = &type;
      } else if (n.Is(XmlNs::CalcExt, "value-type")) {
        slot = &calcType;
      } else if (n.Is(XmlNs::Office, "value")) {
        slot = &officeValue;
      }
      if (slot != nullptr && *slot == nullptr) *slot = &attribute.value;
    }
    cellRepeat_ = RepeatCount(repeat);
    text_.clear();
    paragraphs_ = 0;
    paragraphDepth_ = 0;
    ignoreDepth_ = 0;
    cell_.kind = Cell::Kind::Empty;
    cell_.number = 0;
    cell_.text.clear();
    collectText_ = false;
    if (covered_) {  // merged away: the value shows in the top-left cell only
      SkipContent();
      return;
    }

    const std::string_view valueType = calcType != nullptr && *calcType == "error"
                                           ? std::string_view("error")
                                       : type != nullptr ? *type
                                                         : std::string_view();
    errorCell_ = valueType == "error";
    stringValue_.reset();
    if (valueType == "float" || valueType == "percentage" || valueType == "currency") {
      if (const auto* value = officeValue) {
        if (const auto number = ParseXmlNumber(*value)) {
          cell_.kind = Cell::Kind::Number;
          cell_.number = *number;
        }
      }
    } else if (valueType == "date") {
      if (const auto* value = OfficeAttr(attributes, "date-value")) {
        if (const auto when = ParseIsoDateTime(*value)) {
          cell_.kind = Cell::Kind::DateTime;
          cell_.number = *when;
        }
      }
    } else if (valueType == "time") {
      if (const auto* value = OfficeAttr(attributes, "time-value")) {
        if (const auto days = ParseIsoDuration(*value)) {
          cell_.kind = Cell::Kind::DateTime;
          cell_.number = *days;
        }
      }
    } else if (valueType == "boolean") {
      if (const auto* value = OfficeAttr(attributes, "boolean-value")) {
        if (*value == "true" || *value == "1" || *value == "false" || *value == "0") {
          cell_.kind = Cell::Kind::Boolean;
          cell_.number = *value == "true" || *value == "1" ? 1 : 0;
        }
      }
    } else if (valueType == "string") {
      if (const auto* value = OfficeAttr(attributes, "string-value")) {
        CheckLength(value->size());
        stringValue_ = std::string(*value);
      }
    }
    // The paragraphs of a cell whose value the attributes give are only its displayed
    // form: they are followed for their structure but their text is not kept.
    collectText_ = cell_.kind == Cell::Kind::Empty && !stringValue_;
    if (!collectText_) SkipContent();
  }

  void StartInCell(const XmlName& name, std::span<const XmlAttribute> attributes) {
    if (ignoreDepth_ > 0 || covered_) {
      ++ignoreDepth_;
      return;
    }
    // Comments and drawings anchored in the cell are not its value.
    if (name.Is(XmlNs::Office, "annotation") || name.ns == XmlNs::Other) {
      ++ignoreDepth_;
      SkipContent();
      return;
    }
    if (name.Is(XmlNs::Text, "p") || name.Is(XmlNs::Text, "h")) {
      if (paragraphDepth_++ == 0) {
        if (paragraphs_++ > 0) Append("\n");
      }
    } else if (paragraphDepth_ > 0 && name.Is(XmlNs::Text, "s")) {
      const auto* count = FindAttribute(attributes, XmlNs::Text, "c");
      const std::uint64_t blanks = RepeatCount(count);
      if (blanks > kMaxSpaces) {
        throw WorkbookError("the file asks for " + std::to_string(blanks) +
                            " blanks in one place, more than a cell can hold");
      }
      Append(std::string(blanks, ' '));
    } else if (paragraphDepth_ > 0 && name.Is(XmlNs::Text, "tab")) {
      Append("\t");
    } else if (paragraphDepth_ > 0 && name.Is(XmlNs::Text, "line-break")) {
      Append("\n");
    }
  }

  void EndInCell(const XmlName& name) {
    if ((name.Is(XmlNs::Text, "p") || name.Is(XmlNs::Text, "h")) && paragraphDepth_ > 0) {
      --paragraphDepth_;
    }
  }

  // The text grows up to four bytes per character a cell may hold; the exact count of
  // characters is checked as the cell is written.
  void CheckLength(std::size_t size) const {
    if (size > limits_.MaxCellBytes()) ThrowCellTooLong("a cell's text", limits_.maxCellChars);
  }

  void Append(std::string_view text) {
    if (!collectText_) return;
    CheckLength(text_.size() + text.size());
    text_ += text;
  }

  void EndCell() {
    inCell_ = false;
    collectText_ = false;
    if (!covered_ && cell_.kind == Cell::Kind::Empty) {
      if (errorCell_) {
        if (!text_.empty()) {
          cell_.kind = Cell::Kind::Error;
          cell_.text.swap(text_);
        }
      } else if (stringValue_) {
        if (!stringValue_->empty()) {
          cell_.kind = Cell::Kind::Text;
          cell_.text = std::move(*stringValue_);
        }
      } else if (!text_.empty()) {
        // A string cell, or a value the file gives only as displayed text.
        cell_.kind = Cell::Kind::Text;
        cell_.text.swap(text_);
      }
    }
    if (cell_.kind == Cell::Kind::Empty) {
      column_ += cellRepeat_;  // may pass the last column: only values are checked
      return;
    }
    if (column_ + cellRepeat_ > limits_.maxColumns) {
      throw LimitError("the sheet has a value beyond the limit of " +
                       std::to_string(limits_.maxColumns) + " columns");
    }
    // A repeated cell is kept once and expanded as the row is delivered. The cells of
    // earlier rows are reused, and with them the room of their texts.
    const bool text = cell_.kind == Cell::Kind::Text || cell_.kind == Cell::Kind::Error;
    rowText_ =
        SaturatingAdd(rowText_, SaturatingMultiply(text ? cell_.text.size() : 1, cellRepeat_));
    if (rowText_ > limits_.maxTextBytes) ThrowTooMuchText(limits_.maxTextBytes);
    CountRepeated(cellRepeat_ - 1);
    if (rowCount_ == rowCells_.size()) rowCells_.emplace_back();
    RepeatedCell& kept = rowCells_[rowCount_++];
    kept.column = static_cast<std::uint32_t>(column_);
    kept.repeat = static_cast<std::uint32_t>(cellRepeat_);
    kept.cell = cell_;
    column_ += cellRepeat_;
  }

  void EndRow() {
    if (rowCount_ == 0) {
      row_ += rowRepeat_;
      return;
    }
    if (row_ + rowRepeat_ > limits_.maxRows) {
      throw LimitError("the sheet has a value beyond the limit of " +
                       std::to_string(limits_.maxRows) + " rows");
    }
    // The text the repetitions will make, counted in full before any of it is delivered:
    // a lower bound of what the sheet's text takes, so that a file asking for far more
    // than the limit is refused at once rather than after the limit has been written.
    std::uint64_t cells = 0;
    for (std::size_t i = 0; i < rowCount_; ++i) cells += rowCells_[i].repeat;
    CountRepeated(SaturatingMultiply(rowRepeat_ - 1, cells));
    sheetText_ = SaturatingAdd(sheetText_, SaturatingMultiply(rowText_, rowRepeat_));
    rowText_ = 0;
    if (sheetText_ > limits_.maxTextBytes) ThrowTooMuchText(limits_.maxTextBytes);
    for (std::uint64_t r = 0; r < rowRepeat_; ++r) {
      for (std::size_t i = 0; i < rowCount_; ++i) {
        const RepeatedCell& kept = rowCells_[i];
        for (std::uint32_t k = 0; k < kept.repeat; ++k) {
          sink_.OnCell(static_cast<std::uint32_t>(row_ + r), kept.column + k, kept.cell);
        }
      }
    }
    row_ += rowRepeat_;
  }

  static std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
  }
  static std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
  }

  void CountRepeated(std::uint64_t cells) {
    repeated_ = SaturatingAdd(repeated_, cells);
    if (repeated_ > kMaxRepeatedCells) {
      throw WorkbookError("the sheet repeats its cells more than " +
                          std::to_string(kMaxRepeatedCells) + " times");
    }
  }

  std::size_t target_;
  CellSink& sink_;
  const ReaderLimits& limits_;
  std::vector<std::string>* names_;
  TablePosition position_;
  std::size_t sheetIndex_ = 0;
  bool active_ = false;
  bool inRow_ = false;
  bool inCell_ = false;
  bool covered_ = false;
  bool errorCell_ = false;    // the cell holds an error, which its text names
  bool collectText_ = false;  // the cell's value is its text, still to be read
  std::uint64_t row_ = 0;
  std::uint64_t column_ = 0;
  std::uint64_t rowRepeat_ = 1;
  std::uint64_t cellRepeat_ = 1;
  std::uint64_t repeated_ = 0;
  int paragraphs_ = 0;
  int paragraphDepth_ = 0;
  int ignoreDepth_ = 0;
  std::optional<std::string> stringValue_;
  std::string text_;
  Cell cell_;
  struct RepeatedCell {
    std::uint32_t column = 0;  // the first of the cell's columns
    std::uint32_t repeat = 1;
    Cell cell;
  };
  std::vector<RepeatedCell> rowCells_;
  std::size_t rowCount_ = 0;     // cells of the current row in rowCells_
  std::uint64_t rowText_ = 0;    // text bytes of the current row, repetitions included
  std::uint64_t sheetText_ = 0;  // the same for the rows delivered so far
};

// The cells of one sheet kept in memory in a compact form, up to a budget: the first
// sheet is read while the sheet names are listed, so that the usual conversion (the first
// sheet of a workbook) decompresses and parses content.xml once rather than twice.
class CellStore : public CellSink {
 public:
  // Bytes of cells kept at most (a number cell takes 17, a text cell 13 and its text).
  static constexpr std::size_t kBudget = 16u << 20;

  void OnCell(std::uint32_t row, std::uint32_t column, const Cell& cell) override {
    if (overflow_) return;
    const bool text = cell.kind == Cell::Kind::Text || cell.kind == Cell::Kind::Error;
    const std::size_t size = 9 + (text ? 4 + cell.text.size() : 8);
    if (bytes_ + size > kBudget) {
      overflow_ = true;
      std::vector<Block>().swap(blocks_);
      return;
    }
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < size) {
      const std::size_t capacity = std::max<std::size_t>(kBlock, size);
      blocks_.push_back({std::make_unique_for_overwrite<char[]>(capacity), 0, capacity});
    }
    Block& block = blocks_.back();
    char* p = block.data.get() + block.used;
    Put(p, row);
    Put(p, column);
    *p++ = static_cast<char>(cell.kind);
    if (text) {
      Put(p, static_cast<std::uint32_t>(cell.text.size()));
      std::memcpy(p, cell.text.data(), cell.text.size());
    } else {
      Put(p, cell.number);
    }
    block.used += size;
    bytes_ += size;
  }

  // False when the sheet did not fit.
  bool Complete() const { return !overflow_; }

  void Replay(CellSink& sink) const {
    Cell cell;
    for (const Block& block : blocks_) {
      const char* p = block.data.get();
      const char* const end = p + block.used;
      while (p < end) {
        const auto row = Get<std::uint32_t>(p);
        const auto column = Get<std::uint32_t>(p);
        cell.kind = static_cast<Cell::Kind>(*p++);
        cell.number = 0;
        cell.text.clear();
        if (cell.kind == Cell::Kind::Text || cell.kind == Cell::Kind::Error) {
          const auto length = Get<std::uint32_t>(p);
          cell.text.assign(p, length);
          p += length;
        } else {
          cell.number = Get<double>(p);
        }
        sink.OnCell(row, column, cell);
      }
    }
  }

 private:
  static constexpr std::size_t kBlock = 1u << 20;

  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t used;
    std::size_t capacity;
  };

  template <typename T>
  static void Put(char*& p, T value) {
    std::memcpy(p, &value, sizeof(T));
    p += sizeof(T);
  }
  template <typename T>
  static T Get(const char*& p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    p += sizeof(T);
    return value;
  }

  std::vector<Block> blocks_;
  std::size_t bytes_ = 0;
  bool overflow_ = false;
};

class OdsReader : public WorkbookReader {
 public:
  OdsReader(const std::string& path, const ReaderLimits& limits) : zip_(path), limits_(limits) {
    if (zip_.Contains("mimetype")) {
      std::string mime = zip_.ReadAll("mimetype", 4096);
      while (!mime.empty() && (mime.back() == '\n' || mime.back() == '\r' || mime.back() == ' ')) {
        mime.pop_back();
      }
      if (mime != kSpreadsheetMime && mime != std::string(kSpreadsheetMime) + "-template") {
        throw WorkbookError("the file is an OpenDocument file but not a spreadsheet (" + mime +
                            ")");
      }
    }
    // A password-protected document keeps its parts encrypted and says so in the
    // manifest; without this check the cause would show only as damaged data.
    constexpr std::string_view kManifest = "META-INF/manifest.xml";
    if (zip_.Contains(kManifest) &&
        zip_.ReadAll(kManifest, limits_.maxDecompressedPart).find("encryption-data") !=
            std::string::npos) {
      throw EncryptedWorkbookError("the spreadsheet is protected by a password and cannot be read");
    }
    if (!zip_.Contains(kContent)) {
      throw WorkbookError("the file is not an OpenDocument spreadsheet: content.xml is missing");
    }
    if (ReadNamesAndFirstSheet()) return;
    // Otherwise the sheet names are listed by a quick scan of the tags, and each sheet is
    // read when asked for, which names what is wrong with it at that point. A document
    // the scan cannot follow gets the full parse now, which names its faults at once.
    SheetNamesScanner scanner(limits_.maxXmlDepth);
    zip_.Read(kContent, limits_.maxDecompressedPart,
              [&](const char* data, std::size_t size) { scanner.Feed(data, size); });
    scanner.Finish();
    if (!scanner.Failed()) {
      names_ = std::move(scanner.names);
      return;
    }
    SheetNamesHandler handler;
    ParseXmlPart(zip_, kContent, limits_, handler, false, XmlParserChoice::Own);
    names_ = std::move(handler.names);
  }

  std::vector<std::string> SheetNames() const override { return names_; }

  void ReadSheet(std::size_t index, CellSink& sink) override {
    if (index >= names_.size()) {
      throw WorkbookError("the workbook has no sheet number " + std::to_string(index + 1));
    }
    if (index == 0 && first_) {
      first_->Replay(sink);
      return;
    }
    SheetHandler handler(index, sink, limits_);
    // content.xml is the largest part of a spreadsheet: our own reader is several times
    // quicker than expat.
    ParseXmlPart(zip_, kContent, limits_, handler, true, XmlParserChoice::Own);
  }

 private:
  // Lists the sheets and keeps the cells of the first one in one parse of content.xml.
  // A document with anything wrong in it, or a first sheet too large to keep, is left to
  // the listing by tags and the reading on demand, so that its faults show as they
  // always have: those of a sheet when the sheet is read.
  bool ReadNamesAndFirstSheet() {
    auto store = std::make_unique<CellStore>();
    std::vector<std::string> names;
    try {
      SheetHandler handler(0, *store, limits_, &names);
      ParseXmlPart(zip_, kContent, limits_, handler, true, XmlParserChoice::Own);
    } catch (const std::exception&) {
      return false;
    }
    names_ = std::move(names);
    if (store->Complete() && !names_.empty()) first_ = std::move(store);
    return true;
  }

  ZipArchive zip_;
  ReaderLimits limits_;
  std::vector<std::string> names_;
  std::unique_ptr<CellStore> first_;  // the cells of the first sheet, when they fit
};

}  // namespace

std::unique_ptr<WorkbookReader> OpenOds(const std::string& path, const ReaderLimits& limits) {
  return std::make_unique<OdsReader>(path, limits);
}

}  // namespace sheet
