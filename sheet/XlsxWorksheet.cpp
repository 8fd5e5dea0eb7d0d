// The worksheet part of an .xlsx workbook, streamed cell by cell.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "sheet/XlsxParts.h"

namespace sheet {
namespace xlsx {
namespace {

std::string CellName(std::uint32_t row, std::uint32_t column) {
  std::string letters;
  std::uint64_t c = static_cast<std::uint64_t>(column) + 1;
  while (c > 0) {
    letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    c = (c - 1) / 26;
  }
  return letters + std::to_string(static_cast<std::uint64_t>(row) + 1);
}

class WorksheetHandler : public XmlHandler {
 public:
  WorksheetHandler(const SheetContext& context, CellSink& sink) : ctx_(context), sink_(sink) {}

  void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
    if (!IsSheetNs(name.ns)) return;
    if (inCell_) {
      if (name.local == "v") {
        hasValue_ = true;
        inValue_ = true;
      } else if (name.local == "is") {
        hasInline_ = true;
        inInline_ = true;
        inline_.Reset();
      } else if (inInline_) {
        inline_.Start(name);
      }
      return;
    }
    if (name.local == "sheetData") {
      inData_ = true;
    } else if (!inData_) {
      return;
    } else if (name.local == "row") {
      StartRow(attributes);
    } else if (name.local == "c") {
      StartCell(attributes);
    }
  }

  void OnEnd(const XmlName& name) override {
    if (!IsSheetNs(name.ns)) return;
    if (inCell_) {
      if (name.local == "c") {
        inCell_ = false;
        EmitCell();
      } else if (name.local == "v") {
        inValue_ = false;
      } else if (name.local == "is") {
        inInline_ = false;
      } else if (inInline_) {
        inline_.End(name);
      }
      return;
    }
    if (name.local == "row") {
      inRow_ = false;
    } else if (name.local == "sheetData") {
      inData_ = false;
    }
  }

  void OnText(std::string_view text) override {
    if (inValue_) {
      if (value_.size() + text.size() > ctx_.limits.MaxCellBytes()) {
        ThrowCellTooLong("the value of cell " + CellName(row_, column_), ctx_.limits.maxCellChars);
      }
      value_ += text;
    } else if (inInline_) {
      inline_.Text(text, ctx_.limits);
    }
  }

 private:
  void CheckPosition(std::uint64_t row, std::uint64_t column) const {
    if (row >= ctx_.limits.maxRows) {
      throw LimitError("the sheet has a row beyond the limit of " +
                       std::to_string(ctx_.limits.maxRows) + " rows");
    }
    if (column >= ctx_.limits.maxColumns) {
      throw LimitError("the sheet has a column beyond the limit of " +
                       std::to_string(ctx_.limits.maxColumns) + " columns");
    }
  }

  void StartRow(std::span<const XmlAttribute> attributes) {
    inRow_ = true;
    std::uint64_t row = nextRow_;
    if (const auto* r = Attr(attributes, "r")) {
      const auto number = ParseXmlUnsigned(*r);
      if (!number || *number == 0) {
        throw WorkbookError("the sheet has a row with the invalid number \"" + std::string(*r) +
                            "\"");
      }
      row = *number - 1;
    }
    CheckPosition(row, 0);
    rowOfRow_ = static_cast<std::uint32_t>(row);
    nextRow_ = row + 1;
    nextColumn_ = 0;
  }

  void StartCell(std::span<const XmlAttribute> attributes) {
    // The reference, type and style in one look at the attributes.
    const std::string_view* r = nullptr;
    const std::string_view* t = nullptr;
    const std::string_view* s = nullptr;
    for (const auto& attribute : attributes) {
      if (attribute.name.ns != XmlNs::None || attribute.name.local.size() != 1) continue;
      const std::string_view** slot = attribute.name.local[0] == 'r'   ? &r
                                      : attribute.name.local[0] == 't' ? &t
                                      : attribute.name.local[0] == 's' ? &s
                                                                       : nullptr;
      if (slot != nullptr && *slot == nullptr) *slot = &attribute.value;
    }
    std::uint64_t row = inRow_ ? rowOfRow_ : nextRow_;
    std::uint64_t column = nextColumn_;
    if (r != nullptr) {
      std::uint32_t parsedRow = 0;
      std::uint32_t parsedColumn = 0;
      if (!ParseCellReference(*r, parsedRow, parsedColumn)) {
        throw WorkbookError("the sheet has a cell with the invalid reference \"" + std::string(*r) +
                            "\"");
      }
      row = parsedRow;
      column = parsedColumn;
    }
    CheckPosition(row, column);
    row_ = static_cast<std::uint32_t>(row);
    column_ = static_cast<std::uint32_t>(column);
    nextColumn_ = column + 1;

    if (t != nullptr) {
      type_.assign(*t);
    } else {
      type_.clear();
    }
    style_ = 0;
    if (s != nullptr) style_ = ParseXmlUnsigned(*s).value_or(0);
    inCell_ = true;
    hasValue_ = hasInline_ = inValue_ = inInline_ = false;
    value_.clear();
  }

  void EmitCell() {
    cell_.text.clear();
    cell_.number = 0;
    if (type_ == "inlineStr") {
      if (hasInline_) {
        cell_.text = inline_.Value();
      } else if (hasValue_) {
        cell_.text = value_;
        DecodeSpreadsheetEscapes(cell_.text);
      } else {
        return;
      }
      cell_.kind = Cell::Kind::Text;
    } else if (!hasValue_) {
      return;  // a cell with a style or a formula but no value
    } else if (type_ != "str" && value_.find_first_not_of(" \t\r\n") == std::string::npos) {
      return;  // an empty <v/>
    } else if (type_ == "s") {
      const auto index = ParseXmlUnsigned(value_);
      if (!index || *index >= ctx_.strings.Size()) {
        throw WorkbookError("cell " + CellName(row_, column_) +
                            " refers to a shared string that does not exist (\"" + value_ +
                            "\" of " + std::to_string(ctx_.strings.Size()) + ")");
      }
      cell_.kind = Cell::Kind::Text;
      cell_.text = ctx_.strings.At(*index);
    } else if (type_ == "str") {
      cell_.kind = Cell::Kind::Text;
      cell_.text = value_;
      DecodeSpreadsheetEscapes(cell_.text);
    } else if (type_ == "b") {
      const auto number = ParseXmlNumber(value_);
      if (number) {
        cell_.kind = Cell::Kind::Boolean;
        cell_.number = *number != 0 ? 1 : 0;
      } else if (value_ == "true" || value_ == "false") {
        cell_.kind = Cell::Kind::Boolean;
        cell_.number = value_ == "true" ? 1 : 0;
      } else {
        SetText();
      }
    } else if (type_ == "e") {
      cell_.kind = Cell::Kind::Error;
      cell_.text = value_;
    } else if (type_ == "d") {
      if (const auto when = ParseIsoDateTime(value_)) {
        cell_.kind = Cell::Kind::DateTime;
        cell_.number = *when;
      } else {
        SetText();
      }
    } else {
      const auto number = ParseXmlNumber(value_);
      if (!number) {
        SetText();  // keep what the file holds rather than lose it
      } else {
        ctx_.formats.SetNumber(cell_, *number, style_);
      }
    }
    sink_.OnCell(row_, column_, cell_);
  }

  void SetText() {
    cell_.kind = Cell::Kind::Text;
    cell_.text = value_;
  }

  const SheetContext& ctx_;
  CellSink& sink_;
  bool inData_ = false;
  bool inRow_ = false;
  bool inCell_ = false;
  bool inValue_ = false;
  bool inInline_ = false;
  bool hasValue_ = false;
  bool hasInline_ = false;
  std::uint64_t nextRow_ = 0;
  std::uint64_t nextColumn_ = 0;
  std::uint32_t rowOfRow_ = 0;
  std::uint32_t row_ = 0;
  std::uint32_t column_ = 0;
  std::uint32_t style_ = 0;
  std::string type_;
  std::string value_;
  StringItemText inline_;
  Cell cell_;
};

}  // namespace

void ReadWorksheet(const ZipArchive& zip, const std::string& part, const SheetContext& context,
                   CellSink& sink) {
  WorksheetHandler handler(context, sink);
  ParseXmlPart(zip, part, context.limits, handler, true, XmlParserChoice::Own);
}

}  // namespace xlsx
}  // namespace sheet
