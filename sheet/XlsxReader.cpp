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
#include "sheet/XlsxParts.h"
#include "sheet/XmlParser.h"
#include "sheet/XmlText.h"
#include "sheet/ZipArchive.h"

namespace sheet {
namespace xlsx {
namespace {

// More cell formats or number formats than any application writes (Excel: 64000).
constexpr std::size_t kMaxStyles = 1u << 20;
// More relationships or sheets than any workbook has.
constexpr std::size_t kMaxRelationships = 1u << 16;

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
    ReadWorksheet(zip_, sheet.part, context, sink);
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
}  // namespace xlsx

std::unique_ptr<WorkbookReader> OpenXlsx(const std::string& path, const ReaderLimits& limits) {
  return std::make_unique<xlsx::XlsxReader>(path, limits);
}

}  // namespace sheet
