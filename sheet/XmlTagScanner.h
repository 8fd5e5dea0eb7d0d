#pragma once
// A quick pass over the tags of an XML document, several times faster than a full parse:
// it finds start and end tags, resolves their namespace prefixes and decodes attributes
// on request, and skips text, comments, processing instructions and CDATA sections. It
// does not check that the document is well-formed: it serves to list what a later full
// parse will read (the sheets of a workbook), and reports Failed() for anything it cannot
// follow so that the caller can fall back to the full parser.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sheet/Workbook.h"
#include "sheet/XmlParser.h"

namespace sheet {

class XmlTagScanner {
 public:
  class Tag {
   public:
    // The attributes with their namespaces resolved and their values decoded. The views
    // stay valid until the next tag.
    std::span<const XmlAttribute> Attributes() const;

   private:
    friend class XmlTagScanner;
    const XmlTagScanner* scanner_ = nullptr;
    std::string_view raw_;  // the text between the element name and the closing '>'
  };

  // `what` names the document in error messages. Elements nested deeper than
  // `maxDepth` are refused with a LimitError.
  explicit XmlTagScanner(std::string what, std::uint64_t maxDepth = ReaderLimits().maxXmlDepth);
  virtual ~XmlTagScanner() = default;

  void Feed(const char* data, std::size_t size);
  void Finish();
  // The document has something the scanner cannot follow (it may still be well-formed).
  bool Failed() const { return failed_; }

 protected:
  virtual void OnStart(const XmlName& name, const Tag& tag) = 0;
  virtual void OnEnd(const XmlName& name) = 0;

 private:
  void Scan();
  // Handles the token at the start of `text`; returns its length, or 0 when the token
  // is not complete yet.
  std::size_t Token(std::string_view text);
  void StartTag(std::string_view name, std::string_view raw, bool selfClosing);
  void EndTag(std::string_view name);
  bool Decode(std::string_view value, std::string& out) const;

  std::string what_;
  std::string pending_;
  std::size_t retryAt_ = 0;
  XmlNamespaceScope scope_;
  std::size_t depth_ = 0;
  std::uint64_t maxDepth_;  // ReaderLimits::maxXmlDepth
  bool failed_ = false;
  bool done_ = false;
  // Storage behind Tag::Attributes().
  mutable std::vector<std::string> values_;
  mutable std::vector<XmlAttribute> attributes_;
};

}  // namespace sheet
