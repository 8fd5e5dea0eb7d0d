#include "sheet/XmlParser.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "sheet/Workbook.h"
#include "sheet/ZipArchive.h"

namespace sheet {

namespace {

// Separates the namespace URI from the local name in the names expat reports. A blank
// cannot occur in a namespace name.
constexpr char kSeparator = ' ';

struct KnownNamespace {
  std::string_view uri;
  XmlNs ns;
};

constexpr std::array<KnownNamespace, 9> kNamespaces{{
    {"http://schemas.openxmlformats.org/spreadsheetml/2006/main", XmlNs::Spreadsheet},
    {"http://purl.oclc.org/ooxml/spreadsheetml/main", XmlNs::Spreadsheet},
    {"http://schemas.openxmlformats.org/officeDocument/2006/relationships", XmlNs::DocumentRel},
    {"http://purl.oclc.org/ooxml/officeDocument/relationships", XmlNs::DocumentRel},
    {"http://schemas.openxmlformats.org/package/2006/relationships", XmlNs::PackageRel},
    {"urn:oasis:names:tc:opendocument:xmlns:office:1.0", XmlNs::Office},
    {"urn:oasis:names:tc:opendocument:xmlns:table:1.0", XmlNs::Table},
    {"urn:oasis:names:tc:opendocument:xmlns:text:1.0", XmlNs::Text},
    {"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0", XmlNs::CalcExt},
}};

XmlName SplitName(const char* raw) {
  const std::string_view full(raw);
  const auto blank = full.find(kSeparator);
  if (blank == std::string_view::npos) return {XmlNs::None, full};
  return {ClassifyNamespace(full.substr(0, blank)), full.substr(blank + 1)};
}

}  // namespace

XmlNs ClassifyNamespace(std::string_view uri) {
  for (const auto& known : kNamespaces) {
    if (known.uri == uri) return known.ns;
  }
  return XmlNs::Other;
}

void XmlNamespaceScope::Bind(std::size_t depth, std::string_view prefix, std::string_view uri) {
  bindings_.push_back({depth, std::string(prefix), ClassifyNamespace(uri)});
}

void XmlNamespaceScope::Leave(std::size_t depth) {
  while (!bindings_.empty() && bindings_.back().depth >= depth) bindings_.pop_back();
}

XmlName XmlNamespaceScope::Resolve(std::string_view qualified, bool isAttribute) const {
  const auto colon = qualified.find(':');
  const std::string_view prefix =
      colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
  const std::string_view local =
      colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
  if (prefix.empty() && isAttribute) return {XmlNs::None, local};
  if (prefix == "xml") return {XmlNs::Other, local};
  for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it) {
    if (it->prefix == prefix) return {it->ns, local};
  }
  return {prefix.empty() ? XmlNs::None : XmlNs::Other, local};
}

const std::string_view* FindAttribute(std::span<const XmlAttribute> attributes, XmlNs ns,
                                      std::string_view local) {
  for (const auto& attribute : attributes) {
    if (attribute.name.ns == ns && attribute.name.local == local) return &attribute.value;
  }
  return nullptr;
}

struct XmlStreamParser::Impl {
  XmlHandler& handler;
  std::string what;
  XML_Parser parser = nullptr;
  std::exception_ptr failure;
  std::vector<XmlAttribute> attributes;
  bool wantText = true;
  bool tracked = false;  // prefixes resolved by `scope`, not by expat
  XmlNamespaceScope scope;
  std::size_t depth = 0;
  // Input not yet handed to expat, and how far expat got without reporting anything.
  std::string pending;
  std::uint64_t events = 0;
  std::uint64_t stalled = 0;

  Impl(XmlHandler& h, std::string w) : handler(h), what(std::move(w)) {}

  // Stops the parse with the exception in flight; it is rethrown once expat returns.
  void Fail(std::exception_ptr error) {
    if (!failure) failure = std::move(error);
    XML_StopParser(parser, XML_FALSE);
  }

  void Refuse(const std::string& message) {
    Fail(std::make_exception_ptr(WorkbookError("the part " + what + " " + message)));
  }

  static void Start(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* self = static_cast<Impl*>(data);
    ++self->events;
    if (self->failure) return;
    try {
      self->attributes.clear();
      if (self->tracked) {
        ++self->depth;
        for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
          const std::string_view attribute(a[0]);
          if (attribute == "xmlns") {
            self->scope.Bind(self->depth, "", a[1]);
          } else if (attribute.starts_with("xmlns:")) {
            self->scope.Bind(self->depth, attribute.substr(6), a[1]);
          }
        }
        for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
          const std::string_view attribute(a[0]);
          if (attribute == "xmlns" || attribute.starts_with("xmlns:")) continue;
          self->attributes.push_back(
              {self->scope.Resolve(attribute, true), std::string_view(a[1])});
        }
        self->handler.OnStart(self->scope.Resolve(name, false), self->attributes);
        return;
      }
      for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
        self->attributes.push_back({SplitName(a[0]), std::string_view(a[1])});
      }
      self->handler.OnStart(SplitName(name), self->attributes);
    } catch (...) {
      self->Fail(std::current_exception());
    }
  }

  static void End(void* data, const XML_Char* name) {
    auto* self = static_cast<Impl*>(data);
    ++self->events;
    if (self->failure) return;
    try {
      if (self->tracked) {
        const XmlName resolved = self->scope.Resolve(name, false);
        self->handler.OnEnd(resolved);
        self->scope.Leave(self->depth);
        --self->depth;
        return;
      }
      self->handler.OnEnd(SplitName(name));
    } catch (...) {
      self->Fail(std::current_exception());
    }
  }

  static void Characters(void* data, const XML_Char* text, int length) {
    auto* self = static_cast<Impl*>(data);
    ++self->events;
    if (self->failure || !self->wantText) return;
    try {
      self->handler.OnText(std::string_view(text, static_cast<std::size_t>(length)));
    } catch (...) {
      self->Fail(std::current_exception());
    }
  }

  static void Comment(void* data, const XML_Char*) { ++static_cast<Impl*>(data)->events; }
  static void Instruction(void* data, const XML_Char*, const XML_Char*) {
    ++static_cast<Impl*>(data)->events;
  }

  static void Doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<Impl*>(data)->Refuse("has a document type declaration, which is not allowed");
  }

  static void EntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                         const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<Impl*>(data)->Refuse("declares entities, which is not allowed");
  }

  void Check(XML_Status status) {
    if (failure) std::rethrow_exception(failure);
    if (status == XML_STATUS_ERROR) {
      throw WorkbookError("the part " + what + " is not well-formed XML (line " +
                          std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                          std::to_string(XML_GetCurrentColumnNumber(parser)) +
                          "): " + XML_ErrorString(XML_GetErrorCode(parser)));
    }
  }
};

XmlStreamParser::XmlStreamParser(XmlHandler& handler, std::string what, bool wantText,
                                 XmlPrefixes prefixes)
    : impl_(new Impl(handler, std::move(what))) {
  impl_->tracked = prefixes == XmlPrefixes::Tracked;
  impl_->parser =
      impl_->tracked ? XML_ParserCreate(nullptr) : XML_ParserCreateNS(nullptr, kSeparator);
  if (impl_->parser == nullptr) {
    delete impl_;
    throw std::bad_alloc();
  }
  XML_SetUserData(impl_->parser, impl_);
  XML_SetElementHandler(impl_->parser, &Impl::Start, &Impl::End);
  impl_->wantText = wantText;
  XML_SetCharacterDataHandler(impl_->parser, &Impl::Characters);
  XML_SetCommentHandler(impl_->parser, &Impl::Comment);
  XML_SetProcessingInstructionHandler(impl_->parser, &Impl::Instruction);
  XML_SetStartDoctypeDeclHandler(impl_->parser, &Impl::Doctype);
  XML_SetEntityDeclHandler(impl_->parser, &Impl::EntityDecl);
  XML_SetParamEntityParsing(impl_->parser, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlStreamParser::~XmlStreamParser() {
  XML_ParserFree(impl_->parser);
  delete impl_;
}

void XmlStreamParser::Feed(const char* data, std::size_t size) {
  impl_->pending.append(data, size);
  // expat parses an unfinished token (a tag, a comment) again from its start on every
  // call: while it reports nothing, wait for twice as much input before the next call,
  // so that a huge token costs linear rather than quadratic time.
  if (impl_->pending.size() >= std::max<std::uint64_t>(kMinFeed, impl_->stalled)) Flush();
}

void XmlStreamParser::Flush() {
  const char* data = impl_->pending.data();
  std::size_t size = impl_->pending.size();
  while (size > 0) {
    // Never more than expat's int length, and never past the longest token allowed
    // without looking whether expat has reported something in between.
    std::size_t n = std::min<std::size_t>(size, 1u << 30);
    n = std::min<std::uint64_t>(n, kMaxToken + 1 - impl_->stalled);
    const std::uint64_t eventsBefore = impl_->events;
    impl_->Check(XML_Parse(impl_->parser, data, static_cast<int>(n), XML_FALSE));
    impl_->stalled = impl_->events == eventsBefore ? impl_->stalled + n : 0;
    if (impl_->stalled > kMaxToken) {
      throw WorkbookError("the part " + impl_->what + " has a tag or comment longer than " +
                          std::to_string(kMaxToken >> 20) + " MB");
    }
    data += n;
    size -= n;
  }
  impl_->pending.clear();
}

void XmlStreamParser::Finish() {
  Flush();
  impl_->Check(XML_Parse(impl_->parser, "", 0, XML_TRUE));
}

void ParseXmlPart(const ZipArchive& archive, std::string_view part, std::uint64_t limit,
                  XmlHandler& handler, bool wantText, XmlPrefixes prefixes) {
  XmlStreamParser parser(handler, std::string(part), wantText, prefixes);
  try {
    archive.Read(part, limit, [&](const char* data, std::size_t size) { parser.Feed(data, size); });
    parser.Finish();
  } catch (const XmlStop&) {
  }
}

}  // namespace sheet
