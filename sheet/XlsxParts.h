#pragma once
// What the parts of the .xlsx reader share: element and attribute tests in the
// spreadsheet namespace, the shared string table, the text of a string item, and the
// worksheet cell reader that the workbook part hands each sheet to.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sheet/DateSerial.h"
#include "sheet/Workbook.h"
#include "sheet/XmlParser.h"
#include "sheet/XmlText.h"
#include "sheet/ZipArchive.h"

namespace sheet {
namespace xlsx {

inline bool IsSheetNs(XmlNs ns) { return ns == XmlNs::Spreadsheet || ns == XmlNs::None; }

inline bool Is(const XmlName& name, std::string_view local) {
  return IsSheetNs(name.ns) && name.local == local;
}

inline const std::string_view* Attr(std::span<const XmlAttribute> attributes,
                                    std::string_view local) {
  return FindAttribute(attributes, XmlNs::None, local);
}

// All strings in one buffer: a table of a million short strings costs a few bytes of
// overhead each instead of a std::string apiece.
class SharedStrings {
 public:
  std::size_t Size() const { return ends_.size(); }
  std::string_view At(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }
  void Add(std::string_view s) {
    text_ += s;
    ends_.push_back(text_.size());
  }
  std::size_t Bytes() const { return text_.size(); }

 private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

// Collects the text of a string item (<si>, <is>): the <t> of the item or of its rich
// text runs, never the phonetic reading (<rPh>).
class StringItemText {
 public:
  void Start(const XmlName& name) {
    if (Is(name, "rPh")) {
      ++phonetic_;
    } else if (Is(name, "t") && phonetic_ == 0) {
      collecting_ = true;
    }
  }
  void End(const XmlName& name) {
    if (Is(name, "rPh")) {
      if (phonetic_ > 0) --phonetic_;
    } else if (Is(name, "t")) {
      collecting_ = false;
    }
  }
  // The text grows up to four bytes per character a cell may hold; the exact count of
  // characters is checked as the cell is written.
  void Text(std::string_view text, const ReaderLimits& limits) {
    if (!collecting_) return;
    if (text_.size() + text.size() > limits.MaxCellBytes()) {
      ThrowCellTooLong("a string in the workbook", limits.maxCellChars);
    }
    text_ += text;
  }
  void Reset() {
    text_.clear();
    phonetic_ = 0;
    collecting_ = false;
  }
  std::string& Value() {
    DecodeSpreadsheetEscapes(text_);
    return text_;
  }

 private:
  std::string text_;
  int phonetic_ = 0;
  bool collecting_ = false;
};

struct SheetContext {
  const SharedStrings& strings;
  const NumberFormats& formats;
  const ReaderLimits& limits;
};

// Streams the cells of worksheet part `part` to `sink`.
void ReadWorksheet(const ZipArchive& zip, const std::string& part, const SheetContext& context,
                   CellSink& sink);

}  // namespace xlsx
}  // namespace sheet
