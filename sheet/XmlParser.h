#pragma once
// Streaming, namespace-aware XML parsing of workbook parts. Element and attribute names
// arrive resolved to a known namespace and a local name, whatever prefix the file uses
// ("x:c", "c" and "ss:c" in the spreadsheet namespace are the same element). Document
// type declarations are refused: no workbook part has one, and they are the vehicle of
// entity expansion attacks.

#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sheet/Workbook.h"

namespace sheet {

class ZipArchive;

enum class XmlNs : std::uint8_t {
  None,         // no namespace
  Other,        // a namespace none of our readers looks at
  Spreadsheet,  // SpreadsheetML main (transitional or strict)
  DocumentRel,  // officeDocument relationships (the r:id attributes)
  PackageRel,   // package relationships (the .rels parts)
  Office,       // OpenDocument office:
  Table,        // OpenDocument table:
  Text,         // OpenDocument text:
  CalcExt,      // LibreOffice calc extensions calcext:
};

struct XmlName {
  XmlNs ns = XmlNs::None;
  std::string_view local;

  // Compared by size and bytes only, which lets the compiler compare a literal in place.
  bool Is(XmlNs n, std::string_view l) const {
    return ns == n && local.size() == l.size() &&
           std::memcmp(local.data(), l.data(), l.size()) == 0;
  }
};

struct XmlAttribute {
  XmlName name;
  std::string_view value;
};

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) = 0;
  virtual void OnEnd(const XmlName& name) = 0;
  // Character data, possibly in several pieces for one run of text.
  virtual void OnText(std::string_view text) = 0;

  // Called from OnStart: the content of the element that starts (its elements and text)
  // is of no interest. The parser still checks that it is well-formed, and may leave out
  // its events, up to the element's own OnEnd; a handler must not rely on either.
  void SkipContent() { skipContent_ = true; }
  // For the parser: whether the element just started asked for that, forgetting it.
  bool TakeSkipContent() { return std::exchange(skipContent_, false); }

 private:
  bool skipContent_ = false;
};

// Thrown by a handler that has read all it needs: ParseXmlPart stops reading and returns
// normally.
struct XmlStop {};

// What became of a reference: decoded, no number where a character reference needs one,
// a number that is no character of XML, or a name no document type declared.
enum class XmlReference : std::uint8_t { Decoded, Malformed, BadCharacter, Undeclared };
// Appends the character that the reference `name` (the text between '&' and ';': "amp",
// "#x41", "#65") stands for to `out`. Only the predefined entities have names: the
// parsers refuse document type declarations.
XmlReference DecodeXmlReference(std::string_view name, std::string& out);

// The namespace of a namespace name (URI).
XmlNs ClassifyNamespace(std::string_view uri);

// Whether the `n` bytes at `a` and `b` are the same, compared a word at a time (the last
// word may overlap the one before).
inline bool SameBytesAt(const char* a, const char* b, std::size_t n) {
  const auto same = [&](std::size_t at, auto word) {
    decltype(word) x, y;
    std::memcpy(&x, a + at, sizeof x);
    std::memcpy(&y, b + at, sizeof y);
    return x == y;
  };
  if (n >= 8) {
    for (std::size_t at = 0; at + 8 < n; at += 8) {
      if (!same(at, std::uint64_t{})) return false;
    }
    return same(n - 8, std::uint64_t{});
  }
  if (n >= 4) return same(0, std::uint32_t{}) && same(n - 4, std::uint32_t{});
  for (std::size_t at = 0; at < n; ++at) {
    if (a[at] != b[at]) return false;
  }
  return true;
}

// The namespace prefixes in force at each depth of a document, for parsers that follow
// the declarations themselves.
class XmlNamespaceScope {
 public:
  // Records `xmlns:prefix="uri"` (an empty prefix for the default namespace) declared on
  // the element at `depth`.
  void Bind(std::size_t depth, std::string_view prefix, std::string_view uri);
  // Forgets the declarations of the element at `depth` and below, as it ends.
  void Leave(std::size_t depth);
  // Changes whenever the bindings do: a name resolved under the same generation resolves
  // the same way again.
  std::uint64_t Generation() const { return generation_; }
  // "p:local" -> namespace bound to p. Unprefixed attributes have no namespace;
  // unprefixed elements have the default one.
  XmlName Resolve(std::string_view qualified, bool isAttribute) const {
    // A name seen lately is answered from the cache, here, without a call.
    if (!qualified.empty() && qualified.size() <= kCachedLength && bindings_.size() > 1) {
      const Resolved& entry = resolved_[Slot(qualified, isAttribute)];
      if (entry.generation == generation_ && entry.length == qualified.size() &&
          entry.isAttribute == isAttribute && SameBytes(entry.qualified, qualified)) {
        return {entry.ns, std::string_view(qualified.data() + entry.localOffset,
                                           qualified.size() - entry.localOffset)};
      }
    }
    return ResolveAndRemember(qualified, isAttribute);
  }

 private:
  struct Binding {
    std::size_t depth;
    std::string prefix;
    XmlNs ns;
  };
  // The last names resolved, by a hash of their text: a document uses a few dozen names
  // over and over, and a search of the bindings costs a comparison with each. Entries of
  // an older generation are stale: every change of the bindings starts a new one. Names
  // up to kCachedLength bytes are kept, which covers those of the workbook formats; with a
  // single binding (a default namespace) the search is quicker than the cache.
  static constexpr std::size_t kCachedLength = 48;
  static constexpr std::size_t kSlots = 64;
  struct Resolved {
    char qualified[kCachedLength];
    std::uint64_t generation = 0;
    std::uint32_t length = 0;
    std::uint32_t localOffset = 0;
    bool isAttribute = false;
    XmlNs ns = XmlNs::None;
  };
  static std::size_t Slot(std::string_view qualified, bool isAttribute) {
    const std::size_t n = qualified.size();
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(qualified[i]); };
    return (n * 7 + byte(0) + byte(n - 1) * 3 + byte(n / 2) * 5 + (isAttribute ? 11 : 0)) % kSlots;
  }
  static bool SameBytes(const char* cached, std::string_view text) {
    return SameBytesAt(cached, text.data(), text.size());
  }
  XmlName ResolveAndRemember(std::string_view qualified, bool isAttribute) const;
  XmlName Search(std::string_view qualified, bool isAttribute) const;

  std::vector<Binding> bindings_;
  std::uint64_t generation_ = 1;
  mutable std::array<Resolved, kSlots> resolved_;
};

// Which parser reads a document. Expat: expat, resolving the namespace prefixes itself.
// Tracked: expat, with the prefixes resolved by us from the xmlns attributes (the same
// result for a well-formed document, and quicker for large ones). Own: a tokenizer of our own reads
// the document as well, several times quicker than expat, with the same events and the same errors
// for what makes a document well-formed; a document in another encoding than UTF-8 is left to
// expat.
enum class XmlParserChoice : std::uint8_t { Expat, Tracked, Own };

// Value of the attribute `local` in namespace `ns`, or nullptr.
const std::string_view* FindAttribute(std::span<const XmlAttribute> attributes, XmlNs ns,
                                      std::string_view local);

// Feeds a document to a handler piece by piece. Exceptions thrown by the handler stop
// the parse and come out of Feed/Finish unchanged.
class XmlStreamParser {
 public:
  // `what` names the document in error messages (a part name). Elements nested deeper
  // than `maxDepth` are refused with a LimitError, by whichever reader reads them.
  XmlStreamParser(XmlHandler& handler, std::string what, bool wantText = true,
                  XmlParserChoice parser = XmlParserChoice::Expat,
                  std::uint64_t maxDepth = ReaderLimits().maxXmlDepth);
  ~XmlStreamParser();
  XmlStreamParser(const XmlStreamParser&) = delete;
  XmlStreamParser& operator=(const XmlStreamParser&) = delete;

  void Feed(const char* data, std::size_t size);
  void Finish();

  // Input is handed to expat in pieces of at least this size.
  static constexpr std::uint64_t kMinFeed = 256 * 1024;
  // A single tag, comment or processing instruction longer than this is refused: no
  // workbook has one, and expat would hold it whole in memory.
  static constexpr std::uint64_t kMaxToken = 32ull << 20;

 private:
  void Flush();

  struct Impl;
  Impl* impl_;
};

// Parses member `part` of `archive` into `handler`, within the decompressed size and the
// nesting depth of `limits`.
void ParseXmlPart(const ZipArchive& archive, std::string_view part, const ReaderLimits& limits,
                  XmlHandler& handler, bool wantText = true,
                  XmlParserChoice parser = XmlParserChoice::Expat);

}  // namespace sheet
