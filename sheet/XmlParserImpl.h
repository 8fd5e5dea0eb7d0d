#pragma once
// The state of one XML parse, shared by the two readers behind XmlStreamParser: the expat
// adapter (XmlExpatAdapter.cpp) and the own tokenizer (XmlOwnTokenizer.cpp). Private to
// the XML layer of sheet/.

#include <expat.h>

#include <cstdint>
#include <array>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sheet/XmlParser.h"

namespace sheet {

// Separates the namespace URI from the local name in the names expat reports. A blank
// cannot occur in a namespace name.
constexpr char kExpatNameSeparator = ' ';

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
  void Fail(std::exception_ptr error);

  void Refuse(const std::string& message);

  static void Start(void* data, const XML_Char* name, const XML_Char** atts);

  static void End(void* data, const XML_Char* name);

  static void Characters(void* data, const XML_Char* text, int length);

  static void Comment(void* data, const XML_Char*) { ++static_cast<Impl*>(data)->events; }
  static void Instruction(void* data, const XML_Char*, const XML_Char*);

  static void Doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int);

  static void EntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                         const XML_Char*, const XML_Char*, const XML_Char*);

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
  void Remember(KnownName& memo, std::size_t begin, std::size_t end) const;

  // The end of the name at pending[at] when it is `name`, else 0.
  std::size_t KnownEnd(const KnownName& name, std::size_t at) const;

  // `name` resolved, through `memo` when it already holds the answer.
  XmlName ResolveKnown(KnownName& memo, std::string_view name, bool isAttribute);

  // Input is scanned in pieces of at least this size.
  static constexpr std::uint64_t kOwnPiece = 64 * 1024;

  [[noreturn]] void Malformed(XML_Error code, std::size_t at) const;

  // Chooses the reader from the start of the document: ours for UTF-8, expat for any
  // other encoding. False while there is too little input to tell.
  bool Decide(bool final);

  // Drops the first `n` bytes of `pending`, keeping count of lines.
  void Consume(std::size_t n);

  void Scan(bool final);

  void FinishOwn();

  // Where character data at the end of the input may be cut without splitting a
  // reference, a CR LF pair or a character.
  std::size_t SafeTextEnd(std::size_t pos, std::size_t n) const;

  // End of the name starting at `i` (== i when none starts there).
  std::size_t NameEnd(std::size_t i, std::size_t limit) const;

  // Checks and decodes the character data or attribute value pending[begin, end): a view
  // of the input itself when nothing needs replacing, else of `out` (appended to).
  std::string_view Decode(std::size_t begin, std::size_t end,
                          const std::array<std::uint8_t, 256>& classes, bool attribute,
                          std::string& out) const;

  // Checks that pending[begin, end) holds characters XML allows (comments, instructions).
  void CheckChars(std::size_t begin, std::size_t end) const;

  // Decodes the reference at pending[i] ('&') into `out`; returns the position after it.
  std::size_t Reference(std::size_t i, std::size_t end, std::string& out) const;

  void Text(std::size_t begin, std::size_t end);

  // The markup at pending[pos] ('<'): its length, or 0 when it is not complete yet.
  std::size_t Markup(std::size_t pos);

  std::size_t EndTag(std::size_t pos);

  void EndElement();

  std::size_t Instruction(std::size_t pos);

  std::size_t Declaration(std::size_t pos);

  std::size_t StartTag(std::size_t pos);

  void Check(XML_Status status);
};

}  // namespace sheet
