// Reader of Office Open XML workbooks (.xlsx, .xlsm): a zip package whose parts are found
// through its relationships (package -> workbook -> worksheets, shared strings, styles).
// Worksheets are streamed cell by cell; only the shared string table and the styles are
// held in memory, within the reader's limits.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sheet/DateSerial.h"
#include "sheet/Workbook.h"
#include "sheet/XmlParser.h"
#include "sheet/XmlText.h"
#include "sheet/ZipArchive.h"

namespace sheet {

namespace {

// More cell formats or number formats than any application writes (Excel: 64000).
constexpr std::size_t kMaxStyles = 1u << 20;
// More relationships or sheets than any workbook has.
constexpr std::size_t kMaxRelationships = 1u << 16;

bool IsSheetNs(XmlNs ns) { return ns == XmlNs::Spreadsheet || ns == XmlNs::None; }

bool Is(const XmlName& name, std::string_view local) {
  return IsSheetNs(name.ns) && name.local == local;
}

const std::string_view* Attr(std::span<const XmlAttribute> attributes, std::string_view local) {
  return FindAttribute(attributes, XmlNs::None, local);
}

// --- Part names -----------------------------------------------------------------------

std::string DirectoryOf(std::string_view part) {
  const auto slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string RelationshipsPartOf(std::string_view part) {
  const auto slash = part.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? part : part.substr(slash + 1);
  return DirectoryOf(part) + "_rels/" + std::string(base) + ".rels";
}

// Resolves a relationship target against the folder of its source part: "/xl/a.xml" is
// absolute, "worksheets/s.xml" and "../x.xml" are relative; %XX escapes are decoded.
std::string ResolveTarget(std::string_view sourceDir, std::string_view target) {
  std::string decoded;
  for (std::size_t i = 0; i < target.size(); ++i) {
    auto hex = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    if (target[i] == '%' && i + 2 < target.size() && hex(target[i + 1]) >= 0 &&
        hex(target[i + 2]) >= 0) {
      decoded += static_cast<char>(hex(target[i + 1]) * 16 + hex(target[i + 2]));
      i += 2;
    } else {
      decoded += target[i] == '\\' ? '/' : target[i];
    }
  }
  const std::string full =
      !decoded.empty() && decoded.front() == '/' ? decoded : std::string(sourceDir) + decoded;
  std::vector<std::string_view> segments;
  std::string_view rest(full);
  while (!rest.empty()) {
    const auto slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  std::string path;
  for (const auto& segment : segments) {
    if (!path.empty()) path += '/';
    path += segment;
  }
  return path;
}

bool TypeIs(std::string_view type, std::string_view kind) {
  return type.size() > kind.size() && type.ends_with(kind) &&
         type[type.size() - kind.size() - 1] == '/';
}

// --- Relationships --------------------------------------------------------------------

struct Relationship {
  std::string id;
  std::string type;
  std::string target;  // resolved part name
};

class RelationshipsHandler : public XmlHandler {
 public:
  explicit RelationshipsHandler(std::string sourceDir) : sourceDir_(std::move(sourceDir)) {}

  void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
    if (name.local != "Relationship" || (name.ns != XmlNs::PackageRel && name.ns != XmlNs::None)) {
      return;
    }
    const auto* id = Attr(attributes, "Id");
    const auto* type = Attr(attributes, "Type");
    const auto* target = Attr(attributes, "Target");
    const auto* mode = Attr(attributes, "TargetMode");
    if (id == nullptr || type == nullptr || target == nullptr) return;
    if (mode != nullptr && *mode == "External") return;
    if (relationships.size() >= kMaxRelationships) {
      throw WorkbookError("the workbook has too many relationships");
    }
    relationships.push_back(
        {std::string(*id), std::string(*type), ResolveTarget(sourceDir_, *target)});
  }
  void OnEnd(const XmlName&) override {}
  void OnText(std::string_view) override {}

  std::vector<Relationship> relationships;

 private:
  std::string sourceDir_;
};

std::vector<Relationship> ReadRelationships(const ZipArchive& zip, std::string_view source,
                                            const ReaderLimits& limits) {
  const std::string part = RelationshipsPartOf(source);
  if (!zip.Contains(part)) return {};
  RelationshipsHandler handler(DirectoryOf(source));
  ParseXmlPart(zip, part, limits, handler, false);
  return std::move(handler.relationships);
}

// --- Workbook part --------------------------------------------------------------------

struct SheetEntry {
  std::string name;
  std::string relationshipId;
};

class WorkbookHandler : public XmlHandler {
 public:
  void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
    if (Is(name, "workbook")) {
      sawWorkbook = true;
    } else if (Is(name, "workbookPr")) {
      if (const auto* v = Attr(attributes, "date1904")) date1904 = *v == "1" || *v == "true";
    } else if (Is(name, "sheet")) {
      const auto* sheetName = Attr(attributes, "name");
      const auto* id = FindAttribute(attributes, XmlNs::DocumentRel, "id");
      if (sheets.size() >= kMaxRelationships)
        throw WorkbookError("the workbook has too many sheets");
      sheets.push_back({sheetName ? std::string(*sheetName) : std::string(),
                        id ? std::string(*id) : std::string()});
    }
  }
  void OnEnd(const XmlName&) override {}
  void OnText(std::string_view) override {}

  bool sawWorkbook = false;
  bool date1904 = false;
  std::vector<SheetEntry> sheets;
};

// --- Styles ---------------------------------------------------------------------------

class StylesHandler : public XmlHandler {
 public:
  void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
    if (Is(name, "cellXfs")) {
      inCellXfs_ = true;
    } else if (Is(name, "xf") && inCellXfs_) {
      if (formats.CellFormatCount() >= kMaxStyles) {
        throw WorkbookError("the workbook has too many styles");
      }
      const auto* id = Attr(attributes, "numFmtId");
      formats.AddCellFormat(id ? ParseXmlUnsigned(*id).value_or(0) : 0);
    } else if (Is(name, "numFmt")) {
      const auto* id = Attr(attributes, "numFmtId");
      const auto* code = Attr(attributes, "formatCode");
      if (id == nullptr || code == nullptr) return;
      const auto number = ParseXmlUnsigned(*id);
      if (!number) return;
      if (formats.DefinedCount() >= kMaxStyles) {
        throw WorkbookError("the workbook has too many number formats");
      }
      formats.Define(*number, *code);
    }
  }
  void OnEnd(const XmlName& name) override {
    if (Is(name, "cellXfs")) inCellXfs_ = false;
  }
  void OnText(std::string_view) override {}

  NumberFormats formats;

 private:
  bool inCellXfs_ = false;
};

// --- Shared strings -------------------------------------------------------------------

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

class SharedStringsHandler : public XmlHandler {
 public:
  SharedStringsHandler(SharedStrings& strings, const ReaderLimits& limits)
      : strings_(strings), limits_(limits) {}

  void OnStart(const XmlName& name, std::span<const XmlAttribute>) override {
    if (Is(name, "si")) {
      inItem_ = true;
      item_.Reset();
    } else if (inItem_) {
      item_.Start(name);
    }
  }
  void OnEnd(const XmlName& name) override {
    if (Is(name, "si") && inItem_) {
      inItem_ = false;
      if (strings_.Size() >= limits_.maxSharedStrings) {
        throw WorkbookError("the shared string table has more than " +
                            std::to_string(limits_.maxSharedStrings) + " entries");
      }
      const std::string& value = item_.Value();
      if (strings_.Bytes() + value.size() > limits_.maxStringBytes) {
        throw WorkbookError("the shared string table is larger than the limit of " +
                            std::to_string(limits_.maxStringBytes) + " bytes");
      }
      strings_.Add(value);
    } else if (inItem_) {
      item_.End(name);
    }
  }
  void OnText(std::string_view text) override {
    if (inItem_) item_.Text(text, limits_);
  }

 private:
  SharedStrings& strings_;
  const ReaderLimits& limits_;
  StringItemText item_;
  bool inItem_ = false;
};

// --- Worksheet ------------------------------------------------------------------------

std::string CellName(std::uint32_t row, std::uint32_t column) {
  std::string letters;
  std::uint64_t c = static_cast<std::uint64_t>(column) + 1;
  while (c > 0) {
    letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    c = (c - 1) / 26;
  }
  return letters + std::to_string(static_cast<std::uint64_t>(row) + 1);
}

struct SheetContext {
  const SharedStrings& strings;
  const NumberFormats& formats;
  const ReaderLimits& limits;
};

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

// --- The reader -----------------------------------------------------------------------

struct SheetPart {
  std::string name;
  std::string part;  // empty when the workbook does not say where the sheet is
};

class XlsxReader : public WorkbookReader {
 public:
  XlsxReader(const std::string& path, const ReaderLimits& limits) : zip_(path), limits_(limits) {
    const std::string workbookPart = FindWorkbookPart();
    if (workbookPart.ends_with(".bin")) {
      throw WorkbookError("the file is a binary workbook (.xlsb), which cannot be read");
    }
    if (!zip_.Contains(workbookPart)) {
      throw WorkbookError("the file is not an Excel workbook: the part " + workbookPart +
                          " is missing");
    }
    WorkbookHandler workbook;
    ParseXmlPart(zip_, workbookPart, limits_, workbook, false);
    if (!workbook.sawWorkbook) {
      throw WorkbookError("the file is not an Excel workbook: " + workbookPart +
                          " holds no workbook");
    }

    const auto relationships = ReadRelationships(zip_, workbookPart, limits_);
    std::string sharedStringsPart;
    std::string stylesPart;
    for (const auto& rel : relationships) {
      if (TypeIs(rel.type, "sharedStrings") && sharedStringsPart.empty()) {
        sharedStringsPart = rel.target;
      } else if (TypeIs(rel.type, "styles") && stylesPart.empty()) {
        stylesPart = rel.target;
      }
    }
    for (const auto& entry : workbook.sheets) {
      const auto rel =
          std::find_if(relationships.begin(), relationships.end(),
                       [&](const Relationship& r) { return r.id == entry.relationshipId; });
      if (rel == relationships.end()) {
        sheets_.push_back({entry.name, std::string()});
      } else if (TypeIs(rel->type, "worksheet")) {
        sheets_.push_back({entry.name, rel->target});
      }
      // Chart sheets, dialog sheets and macro sheets are not worksheets.
    }

    if (!sharedStringsPart.empty() && zip_.Contains(sharedStringsPart)) {
      SharedStringsHandler handler(strings_, limits_);
      ParseXmlPart(zip_, sharedStringsPart, limits_, handler, true, XmlParserChoice::Own);
    }
    if (!stylesPart.empty() && zip_.Contains(stylesPart)) {
      StylesHandler handler;
      ParseXmlPart(zip_, stylesPart, limits_, handler, false);
      formats_ = std::move(handler.formats);
    }
    formats_.SetDate1904(workbook.date1904);
  }

  std::vector<std::string> SheetNames() const override {
    std::vector<std::string> names;
    names.reserve(sheets_.size());
    for (const auto& sheet : sheets_) names.push_back(sheet.name);
    return names;
  }

  void ReadSheet(std::size_t index, CellSink& sink) override {
    if (index >= sheets_.size()) {
      throw WorkbookError("the workbook has no sheet number " + std::to_string(index + 1));
    }
    const SheetPart& sheet = sheets_[index];
    if (sheet.part.empty() || !zip_.Contains(sheet.part)) {
      throw WorkbookError("the data of sheet \"" + sheet.name + "\" is missing from the file");
    }
    const SheetContext context{strings_, formats_, limits_};
    WorksheetHandler handler(context, sink);
    ParseXmlPart(zip_, sheet.part, limits_, handler, true, XmlParserChoice::Own);
  }

 private:
  std::string FindWorkbookPart() const {
    const std::string rootRels = "_rels/.rels";
    if (zip_.Contains(rootRels)) {
      RelationshipsHandler handler("");
      ParseXmlPart(zip_, rootRels, limits_, handler, false);
      for (const auto& rel : handler.relationships) {
        if (TypeIs(rel.type, "officeDocument")) return rel.target;
      }
    }
    return "xl/workbook.xml";
  }

  ZipArchive zip_;
  ReaderLimits limits_;
  std::vector<SheetPart> sheets_;
  SharedStrings strings_;
  NumberFormats formats_;
};

}  // namespace

std::unique_ptr<WorkbookReader> OpenXlsx(const std::string& path, const ReaderLimits& limits) {
  return std::make_unique<XlsxReader>(path, limits);
}

}  // namespace sheet
