#include "sheet/XmlParser.h"

#include <expat.h>

#include <array>
#include <utility>

#include "sheet/Workbook.h"
#include "sheet/XmlParserImpl.h"
#include "sheet/ZipArchive.h"

namespace sheet {

namespace {

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

}  // namespace

XmlNs ClassifyNamespace(std::string_view uri) {
  for (const auto& known : kNamespaces) {
    if (known.uri == uri) return known.ns;
  }
  return XmlNs::Other;
}

void XmlNamespaceScope::Bind(std::size_t depth, std::string_view prefix, std::string_view uri) {
  bindings_.push_back({depth, std::string(prefix), ClassifyNamespace(uri)});
  ++generation_;
}

void XmlNamespaceScope::Leave(std::size_t depth) {
  while (!bindings_.empty() && bindings_.back().depth >= depth) {
    bindings_.pop_back();
    ++generation_;
  }
}

XmlName XmlNamespaceScope::ResolveAndRemember(std::string_view qualified, bool isAttribute) const {
  const XmlName name = Search(qualified, isAttribute);
  if (qualified.empty() || qualified.size() > kCachedLength || bindings_.size() <= 1) {
    return name;
  }
  Resolved& entry = resolved_[Slot(qualified, isAttribute)];
  std::memcpy(entry.qualified, qualified.data(), qualified.size());
  entry.length = static_cast<std::uint32_t>(qualified.size());
  entry.generation = generation_;
  entry.localOffset = static_cast<std::uint32_t>(qualified.size() - name.local.size());
  entry.isAttribute = isAttribute;
  entry.ns = name.ns;
  return name;
}

XmlName XmlNamespaceScope::Search(std::string_view qualified, bool isAttribute) const {
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

XmlStreamParser::XmlStreamParser(XmlHandler& handler, std::string what, bool wantText,
                                 XmlParserChoice parser, std::uint64_t maxDepth)
    : impl_(new Impl(handler, std::move(what))) {
  impl_->maxDepth = maxDepth;
  impl_->tracked = parser != XmlParserChoice::Expat;
  if (parser == XmlParserChoice::Own) impl_->reader = Impl::Reader::Undecided;
  impl_->parser =
      impl_->tracked ? XML_ParserCreate(nullptr) : XML_ParserCreateNS(nullptr, kExpatNameSeparator);
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
  if (impl_->reader == Impl::Reader::Undecided && !impl_->Decide(false)) return;
  if (impl_->reader == Impl::Reader::Own) {
    if (impl_->pending.size() >= impl_->retryAt) impl_->Scan(false);
    return;
  }
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
  if (impl_->reader == Impl::Reader::Undecided) impl_->Decide(true);
  if (impl_->reader == Impl::Reader::Own) {
    impl_->FinishOwn();
    return;
  }
  Flush();
  impl_->Check(XML_Parse(impl_->parser, "", 0, XML_TRUE));
}

void ParseXmlPart(const ZipArchive& archive, std::string_view part, const ReaderLimits& limits,
                  XmlHandler& handler, bool wantText, XmlParserChoice choice) {
  XmlStreamParser parser(handler, std::string(part), wantText, choice, limits.maxXmlDepth);
  try {
    archive.Read(part, limits.maxDecompressedPart,
                 [&](const char* data, std::size_t size) { parser.Feed(data, size); });
    parser.Finish();
  } catch (const XmlStop&) {
  }
}

}  // namespace sheet
