#include "sheet/XmlParser.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "sheet/Workbook.h"
#include "sheet/XmlText.h"
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

// --- The own reader ----------------------------------------------------------------------
//
// Large parts (worksheets, shared strings, content.xml) are read by a tokenizer of our own
// rather than by expat: a workbook part is UTF-8 without a document type, which leaves
// tags, attributes, character and entity references, comments, processing instructions
// and CDATA sections. The reader checks what makes a document well-formed (nesting,
// names, attribute syntax, unique attributes, references, characters and UTF-8, a single
// root) and reports the same errors in expat's words; a document in another encoding is
// handed to expat whole, before anything of it has been reported.

namespace {

enum CharClass : std::uint8_t {
  kPlain = 0,    // stands for itself in text and attribute values
  kSpecial = 1,  // '&', CR, ']' of text, tab and LF of attribute values
  kBad = 2,      // a control character XML does not allow
  kHigh = 3,     // a byte of a multi-byte UTF-8 sequence
  kLess = 4,     // '<', not allowed in attribute values
};

enum class Run { Text, Attribute, Cdata };

constexpr std::array<std::uint8_t, 256> MakeClasses(Run run) {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c >= 0x80) {
      table[c] = kHigh;
    } else if (c == '\r' || (run != Run::Cdata && c == '&') || (run == Run::Text && c == ']') ||
               (run == Run::Attribute && (c == '\t' || c == '\n'))) {
      table[c] = kSpecial;
    } else if (c < 0x20 && c != '\t' && c != '\n') {
      table[c] = kBad;
    } else if (c == '<' && run == Run::Attribute) {
      table[c] = kLess;
    }
  }
  return table;
}

constexpr auto kTextClasses = MakeClasses(Run::Text);
constexpr auto kAttributeClasses = MakeClasses(Run::Attribute);
constexpr auto kCdataClasses = MakeClasses(Run::Cdata);

// Name characters: 1 may start a name, 2 may only continue one. Bytes of non-ASCII
// characters are accepted in either place.
constexpr std::array<std::uint8_t, 256> MakeNameTable() {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80) {
      table[c] = 1;
    } else if ((c >= '0' && c <= '9') || c == '.' || c == '-') {
      table[c] = 2;
    }
  }
  return table;
}

constexpr auto kNameChars = MakeNameTable();

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Length of the valid UTF-8 sequence at `p` (at most `left` bytes there), 0 when it is
// invalid, or -1 when it is cut off by the end of the data.
int Utf8Length(const unsigned char* p, std::size_t left) {
  const unsigned char b = p[0];
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (int k = 1; k < length; ++k) {
    if (static_cast<std::size_t>(k) >= left) return -1;
    if (p[k] < (k == 1 ? low : 0x80) || p[k] > (k == 1 ? high : 0xBF)) return 0;
  }
  // U+FFFE and U+FFFF are not characters.
  if (b == 0xEF && p[1] == 0xBF && p[2] >= 0xBE) return 0;
  return length;
}

// The pseudo-attributes of an XML declaration after "<?xml": version, then optionally
// encoding and standalone, in that order, each value quoted and of its own syntax.
bool IsPlainDeclaration(std::string_view rest) {
  const auto skipBlanks = [&] {
    const std::size_t before = rest.size();
    while (!rest.empty() && IsXmlSpace(rest.front())) rest.remove_prefix(1);
    return rest.size() != before;
  };
  const auto pseudo = [&](std::string_view name, auto valid) {
    const std::string_view saved = rest;
    if (!skipBlanks() || !rest.starts_with(name)) {
      rest = saved;
      return false;
    }
    rest.remove_prefix(name.size());
    skipBlanks();
    if (rest.empty() || rest.front() != '=') return false;
    rest.remove_prefix(1);
    skipBlanks();
    if (rest.empty() || (rest.front() != '"' && rest.front() != '\'')) return false;
    const auto close = rest.find(rest.front(), 1);
    if (close == std::string_view::npos || !valid(rest.substr(1, close - 1))) return false;
    rest.remove_prefix(close + 1);
    return true;
  };
  const auto version = [](std::string_view v) {
    return v.size() > 2 && v.starts_with("1.") &&
           v.find_first_not_of("0123456789", 2) == std::string_view::npos;
  };
  const auto encoding = [](std::string_view v) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (v.empty() || !letter(v.front())) return false;
    for (const char c : v) {
      if (!letter(c) && !(c >= '0' && c <= '9') && c != '.' && c != '_' && c != '-') return false;
    }
    return true;
  };
  const auto standalone = [](std::string_view v) { return v == "yes" || v == "no"; };
  if (!pseudo("version", version)) return false;
  const std::string_view afterVersion = rest;
  if (!pseudo("encoding", encoding)) rest = afterVersion;
  const std::string_view afterEncoding = rest;
  if (!pseudo("standalone", standalone)) rest = afterEncoding;
  skipBlanks();
  return rest.empty();
}

bool IsXmlChar(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

}  // namespace

XmlReference DecodeXmlReference(std::string_view name, std::string& out) {
  if (name.empty() || name[0] != '#') {
    static constexpr std::pair<std::string_view, char> kPredefined[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, c] : kPredefined) {
      if (name == entity) {
        out += c;
        return XmlReference::Decoded;
      }
    }
    return XmlReference::Undeclared;
  }
  const bool hex = name.size() > 1 && name[1] == 'x';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) return XmlReference::Malformed;
  std::uint32_t cp = 0;
  for (const char d : digits) {
    int v = -1;
    if (d >= '0' && d <= '9') v = d - '0';
    if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
    if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
    if (v < 0) return XmlReference::Malformed;
    cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
    if (cp > 0x10FFFF) return XmlReference::BadCharacter;
  }
  if (!IsXmlChar(cp)) return XmlReference::BadCharacter;
  AppendUtf8(out, cp);
  return XmlReference::Decoded;
}

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
  // Elements open in expat's view, and how many may be (ReaderLimits::maxXmlDepth).
  std::uint64_t expatDepth = 0;
  std::uint64_t maxDepth = 0;
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
      if (++self->expatDepth > self->maxDepth) ThrowTooDeep(self->what, self->maxDepth);
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
      --self->expatDepth;
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

  // --- The own reader (XmlParserChoice::Own) ---

  enum class Reader : std::uint8_t { Expat, Undecided, Own };
  Reader reader = Reader::Expat;

  struct OpenElement {
    std::size_t nameBegin;  // in openNames
    std::size_t nameLength;
    std::size_t localOffset;  // of the local name within the qualified name
    XmlNs ns;
  };
  struct RawAttribute {
    std::string_view name;
    const char* value;  // nullptr: decoded into `scratch` at valueOffset
    std::size_t valueOffset;
    std::size_t valueLength;
  };
  std::vector<OpenElement> open;
  std::string openNames;
  std::vector<RawAttribute> raw;
  std::string scratch;  // decoded attribute values of the current tag
  std::string decoded;  // decoded character data
  bool sawRoot = false;
  std::uint64_t documentStart = 0;  // past a byte-order mark
  std::uint64_t consumed = 0;       // bytes of the document before `pending`
  std::uint64_t line = 1;           // line at the start of `pending`
  std::uint64_t lineStart = 0;      // where that line starts in the document
  std::uint64_t retryAt = 0;        // scan again once `pending` is this long
  // Depth of the element whose content the handler skips (0: none): the elements and
  // text inside are checked but not reported.
  std::size_t skipFrom = 0;

  // The names of the last start tag at each depth, and what they resolved to. The next
  // tag at that depth mostly has the same names (the cells of a row, the rows of a
  // sheet, the paragraph of each cell): when its bytes are those of a name checked
  // before, neither the rules for names nor the prefixes need to be gone through again.
  struct KnownName {
    std::string text;              // a name checked by NameEnd
    std::uint64_t generation = 0;  // of the prefix bindings `ns` holds for; 0: not resolved
    std::size_t localOffset = 0;
    XmlNs ns = XmlNs::None;
  };
  struct KnownTag {
    KnownName element;
    std::vector<KnownName> attributes;
  };
  std::vector<KnownTag> known;  // by depth
  // What is kept of a tag, so that the memory stays small whatever the document: names
  // up to this length, of the first few attributes.
  static constexpr std::size_t kKnownNameLength = 64;
  static constexpr std::size_t kKnownAttributes = 16;

  // Remembers pending[begin, end) as checked, when it is short enough.
  void Remember(KnownName& memo, std::size_t begin, std::size_t end) const {
    if (end - begin <= kKnownNameLength) {
      memo.text.assign(pending.data() + begin, end - begin);
    } else {
      memo.text.clear();
    }
    memo.generation = 0;
  }

  // The end of the name at pending[at] when it is `name`, else 0.
  std::size_t KnownEnd(const KnownName& name, std::size_t at) const {
    const std::size_t size = name.text.size();
    if (size == 0 || pending.size() - at <= size) return 0;
    if (kNameChars[static_cast<unsigned char>(pending[at + size])] != 0) return 0;
    return SameBytesAt(pending.data() + at, name.text.data(), size) ? at + size : 0;
  }

  // `name` resolved, through `memo` when it already holds the answer.
  XmlName ResolveKnown(KnownName& memo, std::string_view name, bool isAttribute) {
    const std::uint64_t generation = scope.Generation();
    if (memo.generation != generation) {
      const XmlName resolved = scope.Resolve(name, isAttribute);
      memo.ns = resolved.ns;
      memo.localOffset = name.size() - resolved.local.size();
      memo.generation = generation;
    }
    return {memo.ns, name.substr(memo.localOffset)};
  }

  // Input is scanned in pieces of at least this size.
  static constexpr std::uint64_t kOwnPiece = 64 * 1024;

  [[noreturn]] void Malformed(XML_Error code, std::size_t at) const {
    std::uint64_t l = line;
    std::uint64_t start = lineStart;
    for (std::size_t i = 0; i < at && i < pending.size(); ++i) {
      if (pending[i] == '\n') {
        ++l;
        start = consumed + i + 1;
      }
    }
    throw WorkbookError("the part " + what + " is not well-formed XML (line " + std::to_string(l) +
                        ", column " + std::to_string(consumed + at - start) +
                        "): " + XML_ErrorString(code));
  }

  // Chooses the reader from the start of the document: ours for UTF-8, expat for any
  // other encoding. False while there is too little input to tell.
  bool Decide(bool final) {
    std::string_view head(pending);
    if (head.size() < 4 && !final) return false;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (head.size() >= 2 &&
        ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE) ||
         byte(0) == 0 || byte(1) == 0)) {
      reader = Reader::Expat;
      return true;
    }
    if (head.starts_with("\xEF\xBB\xBF")) {
      documentStart = 3;
      head.remove_prefix(3);
    }
    constexpr std::string_view kDeclaration = "<?xml ";
    if (!final && head.size() < kDeclaration.size() && kDeclaration.starts_with(head)) {
      documentStart = 0;
      return false;
    }
    if (head.starts_with("<?xml") && head.size() > 5 && IsXmlSpace(head[5])) {
      const auto end = head.find("?>");
      if (end == std::string_view::npos) {
        if (!final && head.size() < 4096) return false;
        reader = Reader::Expat;  // let expat name what is wrong
        return true;
      }
      const std::string_view declaration = head.substr(0, end);
      if (!IsPlainDeclaration(declaration.substr(5))) {
        reader = Reader::Expat;  // expat names what is wrong with it
        return true;
      }
      const auto encoding = declaration.find("encoding");
      if (encoding != std::string_view::npos) {
        std::string_view rest = declaration.substr(encoding + 8);
        while (!rest.empty() && (IsXmlSpace(rest.front()) || rest.front() == '=')) {
          rest.remove_prefix(1);
        }
        std::string name;
        if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
          const auto close = rest.find(rest.front(), 1);
          if (close != std::string_view::npos) name = std::string(rest.substr(1, close - 1));
        }
        for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (name != "utf-8") {
          reader = Reader::Expat;
          return true;
        }
      }
    }
    reader = Reader::Own;
    if (documentStart != 0) {
      pending.erase(0, documentStart);
      consumed = documentStart;
      lineStart = 0;
    }
    return true;
  }

  // Drops the first `n` bytes of `pending`, keeping count of lines.
  void Consume(std::size_t n) {
    const char* p = pending.data();
    const char* end = p + n;
    while (const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
      p = static_cast<const char*>(lf) + 1;
      ++line;
      lineStart = consumed + static_cast<std::uint64_t>(p - pending.data());
    }
    consumed += n;
    pending.erase(0, n);
  }

  void Scan(bool final) {
    const char* base = pending.data();
    const std::size_t n = pending.size();
    std::size_t pos = 0;
    while (pos < n) {
      if (base[pos] != '<') {
        const void* lt = std::memchr(base + pos, '<', n - pos);
        std::size_t end = lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - base) : n;
        if (lt == nullptr && !final) {
          end = SafeTextEnd(pos, n);
          if (end == pos) break;
        }
        Text(pos, end);
        pos = end;
        continue;
      }
      const std::size_t length = Markup(pos);
      if (length == 0) break;
      pos += length;
    }
    if (final && pos < n) Malformed(XML_ERROR_UNCLOSED_TOKEN, pos);
    Consume(pos);
    if (pending.size() > kMaxToken) {
      throw WorkbookError("the part " + what + " has a tag or comment longer than " +
                          std::to_string(kMaxToken >> 20) + " MB");
    }
    // An unfinished token is scanned again from its start: wait for twice as much input,
    // so that a long one costs linear time, but look again before it passes the limit.
    retryAt = std::min<std::uint64_t>(std::max<std::uint64_t>(2 * pending.size(), kOwnPiece),
                                      kMaxToken + 1);
  }

  void FinishOwn() {
    Scan(true);
    if (!sawRoot || !open.empty()) Malformed(XML_ERROR_NO_ELEMENTS, 0);
  }

  // Where character data at the end of the input may be cut without splitting a
  // reference, a CR LF pair or a character.
  std::size_t SafeTextEnd(std::size_t pos, std::size_t n) const {
    const auto* p = reinterpret_cast<const unsigned char*>(pending.data());
    std::size_t end = n;
    if (const void* amp = memrchr(p + pos, '&', n - pos)) {
      const std::size_t at = static_cast<std::size_t>(static_cast<const unsigned char*>(amp) - p);
      if (std::memchr(p + at, ';', n - at) == nullptr) end = at;
    }
    std::size_t k = end;
    while (k > pos && end - k < 4 && (p[k - 1] & 0xC0) == 0x80) --k;
    if (k > pos && p[k - 1] >= 0xC0) end = k - 1;
    if (end > pos && p[end - 1] == '\r') --end;
    // "]]>" is not allowed in text: keep a "]]" that may be its start.
    for (int dropped = 0; dropped < 2 && end > pos && p[end - 1] == ']'; ++dropped) --end;
    return end;
  }

  // End of the name starting at `i` (== i when none starts there).
  std::size_t NameEnd(std::size_t i, std::size_t limit) const {
    const auto* p = reinterpret_cast<const unsigned char*>(pending.data());
    if (i >= limit || kNameChars[p[i]] != 1) return i;
    const std::size_t begin = i;
    unsigned char high = p[i];
    // The null after the end of `pending` is no name character: it ends the loop, which
    // need not compare against the limit on every character.
    for (++i;; i += 4) {
      if (kNameChars[p[i]] == 0) break;
      high |= p[i];
      if (kNameChars[p[i + 1]] == 0) {
        i += 1;
        break;
      }
      high |= p[i + 1];
      if (kNameChars[p[i + 2]] == 0) {
        i += 2;
        break;
      }
      high |= p[i + 2];
      if (kNameChars[p[i + 3]] == 0) {
        i += 3;
        break;
      }
      high |= p[i + 3];
    }
    if (i > limit) i = limit;
    if ((high & 0x80) != 0 && i < limit) {
      for (std::size_t k = begin; k < i;) {
        if (p[k] < 0x80) {
          ++k;
          continue;
        }
        const int length = Utf8Length(p + k, i - k);
        if (length <= 0) Malformed(XML_ERROR_INVALID_TOKEN, k);
        k += static_cast<std::size_t>(length);
      }
    }
    return i;
  }

  // Checks and decodes the character data or attribute value pending[begin, end): a view
  // of the input itself when nothing needs replacing, else of `out` (appended to).
  std::string_view Decode(std::size_t begin, std::size_t end,
                          const std::array<std::uint8_t, 256>& classes, bool attribute,
                          std::string& out) const {
    const auto* p = reinterpret_cast<const unsigned char*>(pending.data());
    std::size_t i = begin;
    for (;;) {
      // Four bytes at a time while all of them stand for themselves.
      while (end - i >= 4 && (classes[p[i]] | classes[p[i + 1]] | classes[p[i + 2]] |
                              classes[p[i + 3]]) == kPlain) {
        i += 4;
      }
      while (i < end && classes[p[i]] == kPlain) ++i;
      if (i == end) return std::string_view(pending.data() + begin, end - begin);
      if (classes[p[i]] != kHigh) break;
      // Two-byte characters (Cyrillic, Greek, accented Latin) are checked here.
      if (p[i] >= 0xC2 && p[i] <= 0xDF && end - i >= 2 && (p[i + 1] & 0xC0) == 0x80) {
        i += 2;
        continue;
      }
      const int length = Utf8Length(p + i, end - i);
      if (length <= 0) Malformed(XML_ERROR_INVALID_TOKEN, i);
      i += static_cast<std::size_t>(length);
    }
    if (classes[p[i]] != kSpecial) Malformed(XML_ERROR_INVALID_TOKEN, i);
    const std::size_t start = out.size();
    out.append(pending.data() + begin, i - begin);
    while (i < end) {
      const unsigned char c = p[i];
      switch (classes[c]) {
        case kPlain:
          out += static_cast<char>(c);
          ++i;
          break;
        case kHigh: {
          const int length = Utf8Length(p + i, end - i);
          if (length <= 0) Malformed(XML_ERROR_INVALID_TOKEN, i);
          out.append(pending.data() + i, static_cast<std::size_t>(length));
          i += static_cast<std::size_t>(length);
          break;
        }
        case kSpecial:
          if (c == '&') {
            i = Reference(i, end, out);
          } else if (c == '\r') {
            out += attribute ? ' ' : '\n';
            ++i;
            if (i < end && p[i] == '\n') ++i;
          } else if (c == ']') {
            if (end - i >= 3 && p[i + 1] == ']' && p[i + 2] == '>') {
              Malformed(XML_ERROR_INVALID_TOKEN, i + 2);
            }
            out += ']';
            ++i;
          } else {
            out += ' ';  // tab and line feed in an attribute value
            ++i;
          }
          break;
        default:
          Malformed(XML_ERROR_INVALID_TOKEN, i);
      }
    }
    return std::string_view(out).substr(start);
  }

  // Checks that pending[begin, end) holds characters XML allows (comments, instructions).
  void CheckChars(std::size_t begin, std::size_t end) const {
    const auto* p = reinterpret_cast<const unsigned char*>(pending.data());
    for (std::size_t i = begin; i < end;) {
      const std::uint8_t kind = kCdataClasses[p[i]];
      if (kind == kHigh) {
        const int length = Utf8Length(p + i, end - i);
        if (length <= 0) Malformed(XML_ERROR_INVALID_TOKEN, i);
        i += static_cast<std::size_t>(length);
      } else if (kind == kBad) {
        Malformed(XML_ERROR_INVALID_TOKEN, i);
      } else {
        ++i;
      }
    }
  }

  // Decodes the reference at pending[i] ('&') into `out`; returns the position after it.
  std::size_t Reference(std::size_t i, std::size_t end, std::string& out) const {
    const char* p = pending.data();
    const void* semicolon = std::memchr(p + i, ';', end - i);
    if (semicolon == nullptr) Malformed(XML_ERROR_INVALID_TOKEN, end);
    const std::size_t close = static_cast<std::size_t>(static_cast<const char*>(semicolon) - p);
    const std::string_view name(p + i + 1, close - i - 1);
    switch (DecodeXmlReference(name, out)) {
      case XmlReference::Decoded:
        break;
      case XmlReference::Malformed:
        Malformed(XML_ERROR_INVALID_TOKEN, i);
      case XmlReference::BadCharacter:
        Malformed(XML_ERROR_BAD_CHAR_REF, i);
      case XmlReference::Undeclared:
        if (name.empty() || NameEnd(i + 1, close) != close) Malformed(XML_ERROR_INVALID_TOKEN, i);
        Malformed(XML_ERROR_UNDEFINED_ENTITY, i);
    }
    return close + 1;
  }

  void Text(std::size_t begin, std::size_t end) {
    if (open.empty()) {  // before or after the root element: blanks only
      for (std::size_t i = begin; i < end; ++i) {
        if (!IsXmlSpace(pending[i])) {
          Malformed(sawRoot ? XML_ERROR_JUNK_AFTER_DOC_ELEMENT : XML_ERROR_INVALID_TOKEN, i);
        }
      }
      return;
    }
    decoded.clear();
    const std::string_view text = Decode(begin, end, kTextClasses, false, decoded);
    if (wantText && !text.empty() && skipFrom == 0) handler.OnText(text);
  }

  // The markup at pending[pos] ('<'): its length, or 0 when it is not complete yet.
  std::size_t Markup(std::size_t pos) {
    const std::size_t n = pending.size();
    if (n - pos < 2) return 0;
    switch (pending[pos + 1]) {
      case '/':
        return EndTag(pos);
      case '?':
        return Instruction(pos);
      case '!':
        return Declaration(pos);
      default:
        return StartTag(pos);
    }
  }

  std::size_t EndTag(std::size_t pos) {
    const char* base = pending.data();
    if (!open.empty()) {
      // Nearly always the tag is "</" and the open element's name, checked when the
      // element started, then ">" at once: nothing else to look at.
      const OpenElement& top = open.back();
      const std::size_t after = pos + 2 + top.nameLength;
      if (after < pending.size() && base[after] == '>' &&
          SameBytesAt(base + pos + 2, openNames.data() + top.nameBegin, top.nameLength)) {
        EndElement();
        return after + 1 - pos;
      }
    }
    const void* gt = std::memchr(base + pos + 2, '>', pending.size() - pos - 2);
    if (gt == nullptr) return 0;
    const std::size_t close = static_cast<std::size_t>(static_cast<const char*>(gt) - base);
    const std::size_t nameEnd = NameEnd(pos + 2, close);
    if (nameEnd == pos + 2 || open.empty()) Malformed(XML_ERROR_INVALID_TOKEN, pos + 1);
    for (std::size_t i = nameEnd; i < close; ++i) {
      if (!IsXmlSpace(base[i])) Malformed(XML_ERROR_INVALID_TOKEN, i);
    }
    const OpenElement& top = open.back();
    if (std::string_view(base + pos + 2, nameEnd - pos - 2) !=
        std::string_view(openNames).substr(top.nameBegin, top.nameLength)) {
      Malformed(XML_ERROR_TAG_MISMATCH, pos + 2);
    }
    EndElement();
    return close + 1 - pos;
  }

  void EndElement() {
    const OpenElement top = open.back();
    if (depth <= skipFrom) skipFrom = 0;  // the skipped element itself ends
    if (skipFrom == 0) {
      handler.OnEnd({top.ns, std::string_view(openNames).substr(top.nameBegin + top.localOffset,
                                                                top.nameLength - top.localOffset)});
    }
    scope.Leave(depth);
    --depth;
    openNames.resize(top.nameBegin);
    open.pop_back();
  }

  std::size_t Instruction(std::size_t pos) {
    const auto end = std::string_view(pending).find("?>", pos + 2);
    if (end == std::string_view::npos) return 0;
    const std::size_t targetEnd = NameEnd(pos + 2, end);
    if (targetEnd == pos + 2) Malformed(XML_ERROR_INVALID_TOKEN, pos + 2);
    if (targetEnd != end && !IsXmlSpace(pending[targetEnd])) {
      Malformed(XML_ERROR_INVALID_TOKEN, targetEnd);
    }
    std::string target = pending.substr(pos + 2, targetEnd - pos - 2);
    for (char& c : target) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (target == "xml" && consumed + pos != documentStart) {
      Malformed(XML_ERROR_MISPLACED_XML_PI, pos);
    }
    CheckChars(pos + 2, end);
    return end + 2 - pos;
  }

  std::size_t Declaration(std::size_t pos) {
    const std::string_view rest = std::string_view(pending).substr(pos);
    if (rest.size() < 4) return 0;
    if (rest.starts_with("<!--")) {
      const auto dashes = rest.find("--", 4);
      if (dashes == std::string_view::npos || dashes + 2 >= rest.size()) return 0;
      if (rest[dashes + 2] != '>') Malformed(XML_ERROR_INVALID_TOKEN, pos + dashes);
      CheckChars(pos + 4, pos + dashes);
      return dashes + 3;
    }
    constexpr std::string_view kCdata = "<![CDATA[";
    constexpr std::string_view kDoctype = "<!DOCTYPE";
    if (rest.size() < kCdata.size()) {
      if (kCdata.starts_with(rest) || kDoctype.starts_with(rest)) return 0;
      Malformed(XML_ERROR_INVALID_TOKEN, pos);
    }
    if (rest.starts_with(kDoctype)) {
      throw WorkbookError("the part " + what +
                          " has a document type declaration, which is not allowed");
    }
    if (!rest.starts_with(kCdata)) Malformed(XML_ERROR_INVALID_TOKEN, pos);
    if (open.empty()) Malformed(XML_ERROR_SYNTAX, pos);
    const auto end = rest.find("]]>", kCdata.size());
    if (end == std::string_view::npos) return 0;
    decoded.clear();
    const std::string_view text =
        Decode(pos + kCdata.size(), pos + end, kCdataClasses, false, decoded);
    if (wantText && !text.empty() && skipFrom == 0) handler.OnText(text);
    return end + 3;
  }

  std::size_t StartTag(std::size_t pos) {
    const char* base = pending.data();
    const std::size_t n = pending.size();
    if (known.size() <= depth + 1) known.resize(depth + 2);
    KnownTag& memo = known[depth + 1];
    std::size_t nameEnd = KnownEnd(memo.element, pos + 1);
    if (nameEnd == 0) {
      nameEnd = NameEnd(pos + 1, n);
      if (nameEnd >= n) return 0;
      if (nameEnd == pos + 1) Malformed(XML_ERROR_INVALID_TOKEN, pos + 1);
      Remember(memo.element, pos + 1, nameEnd);
    }
    const std::string_view name(base + pos + 1, nameEnd - pos - 1);
    raw.clear();
    scratch.clear();
    std::size_t i = nameEnd;
    bool selfClosing = false;
    for (;;) {
      const std::size_t blanks = i;
      while (i < n && IsXmlSpace(base[i])) ++i;
      if (i >= n) return 0;
      if (base[i] == '>') {
        ++i;
        break;
      }
      if (base[i] == '/') {
        if (i + 1 >= n) return 0;
        if (base[i + 1] != '>') Malformed(XML_ERROR_INVALID_TOKEN, i);
        i += 2;
        selfClosing = true;
        break;
      }
      if (i == blanks) Malformed(XML_ERROR_INVALID_TOKEN, i);
      const std::size_t index = raw.size();
      if (index < kKnownAttributes && memo.attributes.size() <= index) {
        memo.attributes.resize(index + 1);
      }
      std::size_t attributeEnd = index < kKnownAttributes ? KnownEnd(memo.attributes[index], i) : 0;
      if (attributeEnd == 0) {
        attributeEnd = NameEnd(i, n);
        if (attributeEnd >= n) return 0;
        if (attributeEnd == i) Malformed(XML_ERROR_INVALID_TOKEN, i);
        if (index < kKnownAttributes) Remember(memo.attributes[index], i, attributeEnd);
      }
      const std::string_view attribute(base + i, attributeEnd - i);
      i = attributeEnd;
      while (i < n && IsXmlSpace(base[i])) ++i;
      if (i >= n) return 0;
      if (base[i] != '=') Malformed(XML_ERROR_INVALID_TOKEN, i);
      ++i;
      while (i < n && IsXmlSpace(base[i])) ++i;
      if (i >= n) return 0;
      const char quote = base[i];
      if (quote != '"' && quote != '\'') Malformed(XML_ERROR_INVALID_TOKEN, i);
      const void* close = std::memchr(base + i + 1, quote, n - i - 1);
      if (close == nullptr) return 0;
      const std::size_t valueEnd = static_cast<std::size_t>(static_cast<const char*>(close) - base);
      const std::size_t before = scratch.size();
      const std::string_view value = Decode(i + 1, valueEnd, kAttributeClasses, true, scratch);
      if (scratch.size() == before) {
        raw.push_back({attribute, value.data(), 0, value.size()});
      } else {
        raw.push_back({attribute, nullptr, before, value.size()});
      }
      i = valueEnd + 1;
    }
    if (open.empty() && sawRoot) Malformed(XML_ERROR_JUNK_AFTER_DOC_ELEMENT, pos);
    for (std::size_t a = 0; a < raw.size(); ++a) {
      for (std::size_t b = a + 1; b < raw.size(); ++b) {
        if (raw[a].name == raw[b].name) Malformed(XML_ERROR_DUPLICATE_ATTRIBUTE, pos);
      }
    }
    if (depth >= maxDepth) ThrowTooDeep(what, maxDepth);
    ++depth;
    attributes.clear();
    const auto declares = [](std::string_view attribute) {
      return attribute.size() >= 5 && attribute.starts_with("xmlns") &&
             (attribute.size() == 5 || attribute[5] == ':');
    };
    bool anyDeclaration = false;
    for (const RawAttribute& a : raw) {
      if (!declares(a.name)) continue;
      anyDeclaration = true;
      const std::string_view value =
          a.value != nullptr ? std::string_view(a.value, a.valueLength)
                             : std::string_view(scratch).substr(a.valueOffset, a.valueLength);
      scope.Bind(depth, a.name.size() == 5 ? std::string_view() : a.name.substr(6), value);
    }
    if (skipFrom != 0) {  // inside skipped content: only the nesting is kept
      open.push_back({openNames.size(), name.size(), 0, XmlNs::None});
      openNames += name;
      if (selfClosing) EndElement();
      return i - pos;
    }
    for (std::size_t k = 0; k < raw.size(); ++k) {
      const RawAttribute& a = raw[k];
      if (anyDeclaration && declares(a.name)) continue;
      const std::string_view value =
          a.value != nullptr ? std::string_view(a.value, a.valueLength)
                             : std::string_view(scratch).substr(a.valueOffset, a.valueLength);
      attributes.push_back({k < kKnownAttributes ? ResolveKnown(memo.attributes[k], a.name, true)
                                                 : scope.Resolve(a.name, true),
                            value});
    }
    const XmlName resolved = ResolveKnown(memo.element, name, false);
    open.push_back(
        {openNames.size(), name.size(), name.size() - resolved.local.size(), resolved.ns});
    openNames += name;
    sawRoot = true;
    handler.TakeSkipContent();  // a request made outside OnStart is void
    handler.OnStart(resolved, attributes);
    if (handler.TakeSkipContent()) skipFrom = depth;
    if (selfClosing) EndElement();
    return i - pos;
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
                                 XmlParserChoice parser, std::uint64_t maxDepth)
    : impl_(new Impl(handler, std::move(what))) {
  impl_->maxDepth = maxDepth;
  impl_->tracked = parser != XmlParserChoice::Expat;
  if (parser == XmlParserChoice::Own) impl_->reader = Impl::Reader::Undecided;
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
