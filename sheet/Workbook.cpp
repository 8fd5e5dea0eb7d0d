// Recognising a workbook by its content: the first bytes tell a compound file (.xls)
// from a zip archive; inside a zip the package relationships and content types tell a
// spreadsheet (.xlsx/.xlsm) from a binary workbook (.xlsb) or another Office document,
// and the "mimetype" member tells an OpenDocument spreadsheet. The file name plays no
// part.

#include "sheet/Workbook.h"

#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

namespace sheet {
namespace {

constexpr std::array<unsigned char, 8> kCompoundSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                             0xA1, 0xB1, 0x1A, 0xE1};
// Package parts read for recognition are small; anything larger is not trusted.
constexpr zip_uint64_t kMaxProbePart = 1 << 20;

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

std::string_view LocalName(const char* name) {
  std::string_view n(name);
  const auto colon = n.rfind(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

class ZipArchive {
 public:
  explicit ZipArchive(const std::string& path) {
    int error = 0;
    zip_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip_) {
      zip_error_t ze;
      zip_error_init_with_code(&ze, error);
      message_ = zip_error_strerror(&ze);
      zip_error_fini(&ze);
    }
  }
  ~ZipArchive() {
    if (zip_) zip_discard(zip_);
  }
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  bool ok() const { return zip_ != nullptr; }
  const std::string& message() const { return message_; }

  bool Has(const std::string& name) const { return zip_name_locate(zip_, name.c_str(), 0) >= 0; }

  // The member's content, or nothing when it is absent, unreadable or too large.
  std::optional<std::string> Read(const std::string& name) const {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(zip_, name.c_str(), 0, &st) != 0) return std::nullopt;
    if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxProbePart) return std::nullopt;
    zip_file_t* file = zip_fopen(zip_, name.c_str(), 0);
    if (!file) return std::nullopt;
    std::string data(static_cast<std::size_t>(st.size), '\0');
    const zip_int64_t n = data.empty() ? 0 : zip_fread(file, data.data(), data.size());
    zip_fclose(file);
    if (n < 0 || static_cast<zip_uint64_t>(n) != st.size) return std::nullopt;
    return data;
  }

 private:
  zip_t* zip_ = nullptr;
  std::string message_;
};

// Calls `onElement(localName, attributes)` for every start tag of a small XML part.
// Entity declarations are refused, so no entity expansion takes place, and so is nesting
// deeper than `maxDepth`.
template <typename F>
bool ScanXml(const std::string& xml, std::uint64_t maxDepth, F onElement) {
  struct State {
    F* callback;
    XML_Parser parser;
    std::uint64_t depth;
    std::uint64_t maxDepth;
  };
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) return false;
  State state{&onElement, parser, 0, maxDepth};
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** atts) {
        auto* s = static_cast<State*>(data);
        if (++s->depth > s->maxDepth) {
          XML_StopParser(s->parser, XML_FALSE);
          return;
        }
        (*s->callback)(LocalName(name), atts);
      },
      [](void* data, const XML_Char*) { --static_cast<State*>(data)->depth; });
  XML_SetEntityDeclHandler(
      parser, [](void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                 const XML_Char*, const XML_Char*, const XML_Char*) {
        XML_StopParser(static_cast<State*>(data)->parser, XML_FALSE);
      });
  const bool ok =
      XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

std::string Attribute(const XML_Char** atts, std::string_view wanted) {
  for (int i = 0; atts[i] && atts[i + 1]; i += 2) {
    if (LocalName(atts[i]) == wanted) return atts[i + 1];
  }
  return {};
}

enum class ZipKind { Xlsx, Ods };

ZipKind ClassifyZip(const std::string& path, std::uint64_t maxDepth) {
  ZipArchive zip(path);
  if (!zip.ok()) {
    throw WorkbookError("Corrupt workbook: " + path + " is a damaged zip archive (" +
                        zip.message() + ")");
  }

  // OpenDocument: the "mimetype" member names the kind of document.
  if (auto mimetype = zip.Read("mimetype")) {
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
  if (auto rels = zip.Read("_rels/.rels")) {
    ScanXml(*rels, maxDepth, [&](std::string_view name, const XML_Char** atts) {
      if (name == "Relationship" && mainPart.empty() &&
          EndsWithNoCase(Attribute(atts, "Type"), "/officeDocument")) {
        mainPart = Attribute(atts, "Target");
      }
    });
  }
  while (!mainPart.empty() && mainPart.front() == '/') mainPart.erase(0, 1);
  std::string contentType;
  if (!mainPart.empty()) {
    if (auto types = zip.Read("[Content_Types].xml")) {
      ScanXml(*types, maxDepth, [&](std::string_view name, const XML_Char** atts) {
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
  if (zip.Has("xl/workbook.xml") || (!mainPart.empty() && zip.Has(mainPart))) return ZipKind::Xlsx;
  if (zip.Has("content.xml")) return ZipKind::Ods;
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

std::uint64_t LimitFromEnvironment(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr) return fallback;
  const std::string_view value(text);
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end != value.data() + value.size() || number == 0 ||
      number > (1ull << 48)) {
    return fallback;
  }
  return number;
}

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
