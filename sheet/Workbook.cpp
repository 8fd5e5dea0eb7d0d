// Recognising a workbook by its content: the first bytes tell a compound file (.xls)
// from a zip archive; inside a zip the package relationships and content types tell a
// spreadsheet (.xlsx/.xlsm) from a binary workbook (.xlsb) or another Office document,
// and the "mimetype" member tells an OpenDocument spreadsheet. The file name plays no
// part.

#include "sheet/Workbook.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sheet/XmlParser.h"
#include "sheet/ZipArchive.h"

namespace sheet {
namespace {

constexpr std::array<unsigned char, 8> kCompoundSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                             0xA1, 0xB1, 0x1A, 0xE1};
// Package parts read for recognition are small; anything larger is not trusted.
constexpr std::uint64_t kMaxProbePart = 1 << 20;

bool EndsWithNoCase(const std::string& s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(),
                    s.end() - static_cast<std::ptrdiff_t>(suffix.size()), [](char a, char b) {
                      auto lower = [](char c) {
                        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                      };
                      return lower(a) == lower(b);
                    });
}

// The small parts read for recognition: the whole part, or nothing when it is absent,
// damaged or larger than kMaxProbePart.
std::optional<std::string> ReadProbe(const ZipArchive& zip, std::string_view name) {
  if (!zip.Contains(name)) return std::nullopt;
  try {
    return zip.ReadAll(name, kMaxProbePart);
  } catch (const WorkbookError&) {
    return std::nullopt;
  }
}

// Calls `onElement(localName, attributes)` for every start tag of a small part, whatever
// its namespace. A part that is no well-formed XML gives what was read before the fault:
// the reader of the workbook names the fault when it reads the part itself.
template <typename F>
void ScanXml(const ZipArchive& zip, std::string_view part, std::uint64_t maxDepth, F onElement) {
  class Handler : public XmlHandler {
   public:
    explicit Handler(F& f) : f_(f) {}
    void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
      f_(name.local, attributes);
    }
    void OnEnd(const XmlName&) override {}
    void OnText(std::string_view) override {}

   private:
    F& f_;
  } handler(onElement);
  ReaderLimits limits;
  limits.maxDecompressedPart = kMaxProbePart;
  limits.maxXmlDepth = maxDepth;
  try {
    ParseXmlPart(zip, part, limits, handler, false);
  } catch (const WorkbookError&) {
  }
}

std::string Attribute(std::span<const XmlAttribute> attributes, std::string_view wanted) {
  for (const XmlAttribute& attribute : attributes) {
    if (attribute.name.local == wanted) return std::string(attribute.value);
  }
  return {};
}

enum class ZipKind { Xlsx, Ods };

ZipKind ClassifyZip(const std::string& path, std::uint64_t maxDepth) {
  std::optional<ZipArchive> opened;
  try {
    opened.emplace(path);
  } catch (const WorkbookError& e) {
    throw WorkbookError("Corrupt workbook: " + path + " is a damaged zip archive (" + e.what() +
                        ")");
  }
  const ZipArchive& zip = *opened;

  // OpenDocument: the "mimetype" member names the kind of document.
  if (auto mimetype = ReadProbe(zip, "mimetype")) {
    if (mimetype->starts_with("application/vnd.oasis.opendocument.spreadsheet")) {
      return ZipKind::Ods;
    }
    if (mimetype->starts_with("application/vnd.oasis.opendocument.")) {
      throw WorkbookError("Not a workbook: " + path + " is an OpenDocument file of type " +
                          *mimetype + ", not a spreadsheet");
    }
  }

  // Office Open XML: the package relationship "officeDocument" names the main part, and
  // its content type says what it is.
  std::string mainPart;
  if (zip.Contains("_rels/.rels")) {
    ScanXml(zip, "_rels/.rels", maxDepth, [&](std::string_view name, const auto& atts) {
      if (name == "Relationship" && mainPart.empty() &&
          EndsWithNoCase(Attribute(atts, "Type"), "/officeDocument")) {
        mainPart = Attribute(atts, "Target");
      }
    });
  }
  while (!mainPart.empty() && mainPart.front() == '/') mainPart.erase(0, 1);
  std::string contentType;
  if (!mainPart.empty()) {
    if (zip.Contains("[Content_Types].xml")) {
      ScanXml(zip, "[Content_Types].xml", maxDepth, [&](std::string_view name, const auto& atts) {
        if (name == "Override" && Attribute(atts, "PartName") == "/" + mainPart) {
          contentType = Attribute(atts, "ContentType");
        }
      });
    }
  }
  if (EndsWithNoCase(mainPart, ".bin") || contentType.find(".binary.") != std::string::npos) {
    throw UnsupportedWorkbookError("Unsupported workbook: " + path +
                                   " is a binary workbook (.xlsb); save it as .xlsx or .xls");
  }
  if (contentType.find("spreadsheetml") != std::string::npos ||
      contentType.find("ms-excel") != std::string::npos) {
    return ZipKind::Xlsx;
  }
  if (!contentType.empty()) {
    throw WorkbookError("Not a workbook: " + path + " is an Office document of type " +
                        contentType);
  }
  if (zip.Contains("xl/workbook.xml") || (!mainPart.empty() && zip.Contains(mainPart)))
    return ZipKind::Xlsx;
  if (zip.Contains("content.xml")) return ZipKind::Ods;
  throw WorkbookError("Not a workbook: " + path + " is a zip archive without a spreadsheet");
}

// An encrypted Office Open XML workbook is a compound file with the streams
// "EncryptionInfo" and "EncryptedPackage" instead of a workbook stream. The directory
// names are UTF-16; look for the name in the first megabytes, where writers put the
// directory of such small-header files.
bool LooksEncryptedPackage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  static const std::u16string_view kName = u"EncryptedPackage";
  std::string needle;
  for (char16_t c : kName) {
    needle += static_cast<char>(c & 0xFF);
    needle += static_cast<char>(c >> 8);
  }
  std::string chunk(1 << 20, '\0');
  std::string carry;
  for (int i = 0; i < 16 && in; ++i) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const std::string window = carry + chunk.substr(0, static_cast<std::size_t>(in.gcount()));
    if (window.find(needle) != std::string::npos) return true;
    carry = window.size() > needle.size() ? window.substr(window.size() - needle.size()) : window;
  }
  return false;
}

std::string EncryptedMessage(const std::string& path) {
  return "Encrypted workbook: " + path +
         " is protected by a password; save it without one and try again";
}

}  // namespace

void ThrowCellTooLong(const std::string& where, std::uint64_t limitChars) {
  throw LimitError(where + " is longer than the limit of " + std::to_string(limitChars) +
                   " characters for one cell (TANKLOAD_MAX_CELL_CHARS)");
}

void ThrowTooDeep(const std::string& part, std::uint64_t limit) {
  throw LimitError("the part " + part + " nests its elements deeper than the limit of " +
                   std::to_string(limit) + " levels (TANKLOAD_MAX_XML_DEPTH)");
}

void ThrowTooMuchText(std::uint64_t limit) {
  throw LimitError("the sheet's text would be larger than the limit of " + std::to_string(limit) +
                   " bytes (TANKLOAD_MAX_TEXT_BYTES)");
}

std::unique_ptr<WorkbookReader> OpenWorkbook(const std::string& path, const ReaderLimits& limits) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw WorkbookError("Cannot read " + path + ": " + std::strerror(errno));
  }
  std::array<unsigned char, 8> head{};
  in.read(reinterpret_cast<char*>(head.data()), head.size());
  const auto got = static_cast<std::size_t>(in.gcount());
  in.close();

  if (got == 0) throw WorkbookError("Not a workbook: " + path + " is empty");
  if (got == head.size() && head == kCompoundSignature) {
    try {
      return OpenXls(path, limits);
    } catch (const EncryptedWorkbookError&) {
      throw EncryptedWorkbookError(EncryptedMessage(path));
    } catch (const WorkbookError&) {
      // A password-protected .xlsx comes as a compound file with an encrypted package.
      if (LooksEncryptedPackage(path)) throw EncryptedWorkbookError(EncryptedMessage(path));
      throw;
    }
  }
  if (got >= 4 && head[0] == 'P' && head[1] == 'K' &&
      ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6))) {
    return ClassifyZip(path, limits.maxXmlDepth) == ZipKind::Xlsx ? OpenXlsx(path, limits)
                                                                  : OpenOds(path, limits);
  }
  if (got >= 4 && head[0] == 0x09 && (head[1] == 0x00 || head[1] == 0x02 || head[1] == 0x04) &&
      head[3] == 0x00) {
    throw UnsupportedWorkbookError("Unsupported workbook: " + path +
                                   " is an Excel 2.1-4.0 worksheet; save it as .xls or .xlsx");
  }
  throw WorkbookError("Not a workbook: " + path +
                      " is neither an .xlsx/.xlsm, an .ods nor an .xls workbook");
}

}  // namespace sheet
