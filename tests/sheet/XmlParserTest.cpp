// The XML parser's own reader against expat: for every document both must report the
// same elements, attributes and character data, or refuse it with the same error.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SheetTestSupport.h"
#include "sheet/Workbook.h"
#include "sheet/XmlParser.h"
#include "sheet/XmlTagScanner.h"

namespace {

using sheet::XmlAttribute;
using sheet::XmlName;
using sheet::XmlNs;
using sheet::XmlParserChoice;

std::string NsText(XmlNs ns) {
  switch (ns) {
    case XmlNs::None:
      return "";
    case XmlNs::Other:
      return "other:";
    case XmlNs::Spreadsheet:
      return "ss:";
    case XmlNs::DocumentRel:
      return "docrel:";
    case XmlNs::PackageRel:
      return "pkgrel:";
    case XmlNs::Office:
      return "office:";
    case XmlNs::Table:
      return "table:";
    case XmlNs::Text:
      return "text:";
    case XmlNs::CalcExt:
      return "calcext:";
  }
  return "?:";
}

// Writes the events as one line each; character data between two tags as one line,
// however many pieces it came in.
class Recorder : public sheet::XmlHandler {
 public:
  void OnStart(const XmlName& name, std::span<const XmlAttribute> attributes) override {
    FlushText();
    std::string line = "<";
    line.append(NsText(name.ns)).append(name.local);
    for (const auto& a : attributes) {
      line.append(" ").append(NsText(a.name.ns)).append(a.name.local);
      line.append("=[").append(a.value).append("]");
    }
    events.push_back(line + ">");
  }
  void OnEnd(const XmlName& name) override {
    FlushText();
    events.push_back("</" + NsText(name.ns) + std::string(name.local) + ">");
  }
  void OnText(std::string_view text) override { text_ += text; }

  void FlushText() {
    if (!text_.empty()) events.push_back("text [" + text_ + "]");
    text_.clear();
  }

  std::vector<std::string> events;

 private:
  std::string text_;
};

struct Outcome {
  std::vector<std::string> events;
  std::string error;  // empty when the document was read
};

// Parses `xml` handed over in pieces of `piece` bytes (all at once for 0).
Outcome Parse(const std::string& xml, XmlParserChoice prefixes, std::size_t piece,
              bool wantText = true) {
  Recorder recorder;
  Outcome outcome;
  try {
    sheet::XmlStreamParser parser(recorder, "test.xml", wantText, prefixes);
    const std::size_t step = piece == 0 ? xml.size() : piece;
    for (std::size_t at = 0; at < xml.size(); at += step) {
      parser.Feed(xml.data() + at, std::min(step, xml.size() - at));
    }
    parser.Finish();
    recorder.FlushText();
  } catch (const sheet::WorkbookError& e) {
    outcome.error = e.what();
  }
  outcome.events = recorder.events;
  return outcome;
}

constexpr char kSpreadsheetNs[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

TEST(XmlParser, OwnReaderReportsWhatExpatReports) {
  struct Case {
    const char* name;
    std::string xml;
  };
  const std::string ods =
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
      " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
      " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">";
  const Case cases[] = {
      {"declaration, prefixes and the default namespace",
       std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<x:worksheet "
                   "xmlns:x=\"") +
           kSpreadsheetNs + "\"><x:sheetData><row xmlns=\"" + kSpreadsheetNs +
           "\" r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row></x:sheetData></x:worksheet>"},
      {"a prefix bound again in a child, unbound prefixes, xml:space",
       ods + "<office:body><t:a xmlns:t=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
             "<office:x xmlns:office=\"urn:other\" xml:space=\"preserve\" u:y=\"1\"/></t:a>"
             "<office:x/></office:body></office:document-content>"},
      {"references in text and attributes",
       "<a v=\"&lt;&gt;&amp;&quot;&apos;&#65;&#x416;&#x1F600;\">&lt;b&gt; &amp; &#1046;&#x436; "
       "&quot;&apos;</a>"},
      {"line ends and blanks in text and attributes",
       "<a\r\n b='x\r\ny\rz\tw\nv' c = \"1\" >one\r\ntwo\rthree\n\tfour<b/>\r\n</a>\r\n"},
      {"character references for blanks stay as they are",
       "<a b=\"&#9;&#10;&#13;\">&#13;&#10;</a>"},
      {"CDATA, comments and processing instructions",
       "<!-- before --><?pi data?><a><![CDATA[<not> & a tag]]]]><!-- inside --><?pi x?>"
       "tail<![CDATA[]]></a><!-- after -->\n"},
      {"Cyrillic names, values and text",
       "<лист имя=\"Сводка №1\"><ячейка>Цистерна топлива</ячейка></лист>"},
      {"a byte-order mark", "\xEF\xBB\xBF<?xml version=\"1.0\"?><a>x</a>"},
      {"a full declaration with odd blanks",
       "<?xml  version = '1.0'\tencoding=\"utf-8\"  standalone='no' ?>\n<a/>"},
      {"another encoding goes to expat",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a b=\"\xE9\">caf\xE9</a>"},
      {"UTF-16", std::string("\xFF\xFE<\0a\0/\0>\0", 10)},
      {"text without markup after it is not lost", "<a>x</a>   \n  "},
      {"a long run of text",
       "<a>" + std::string(300000, 'x') + "&amp;" + std::string(100000, 'y') + "\xD0\x96</a>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome expected = Parse(c.xml, XmlParserChoice::Tracked, 0);
    ASSERT_EQ(expected.error, "");
    for (const std::size_t piece : {0, 1, 2, 3, 7, 4096}) {
      SCOPED_TRACE(piece);
      const Outcome own = Parse(c.xml, XmlParserChoice::Own, piece);
      EXPECT_EQ(own.error, "");
      EXPECT_EQ(own.events, expected.events);
    }
  }
}

TEST(XmlParser, OwnReaderLeavesOutTextWhenNotWanted) {
  const Outcome own = Parse("<a>x<b>y</b></a>", XmlParserChoice::Own, 0, false);
  EXPECT_EQ(own.events, (std::vector<std::string>{"<a>", "<b>", "</b>", "</a>"}));
}

TEST(XmlParser, OwnReaderRefusesWhatExpatRefuses) {
  struct Case {
    const char* name;
    std::string xml;
    const char* cause;  // expat's words
  };
  const Case cases[] = {
      {"empty document", "", "no element found"},
      {"unclosed element", "<a><b></b>", "no element found"},
      {"unclosed tag", "<a><b", "unclosed token"},
      {"mismatched tag", "<a></b>", "mismatched tag"},
      {"two root elements", "<a/><b/>", "junk after document element"},
      {"text after the root", "<a/>x", "junk after document element"},
      {"text before the root", "x<a/>", "not well-formed (invalid token)"},
      {"end tag without start", "</a>", "not well-formed (invalid token)"},
      {"undefined entity", "<a>&nbsp;</a>", "undefined entity"},
      {"reference without semicolon", "<a>&amp</a>", "not well-formed (invalid token)"},
      {"reference to character 0", "<a>&#0;</a>", "reference to invalid character number"},
      {"reference past Unicode", "<a b='&#x110000;'/>", "reference to invalid character number"},
      {"duplicate attribute", "<a x='1' x='2'/>", "duplicate attribute"},
      {"attributes without a blank", "<a b='1'c='2'/>", "not well-formed (invalid token)"},
      {"'<' in an attribute", "<a b='<'/>", "not well-formed (invalid token)"},
      {"attribute without value", "<a b/>", "not well-formed (invalid token)"},
      {"control character", "<a>\x01</a>", "not well-formed (invalid token)"},
      {"invalid UTF-8", "<a>\xFF</a>", "not well-formed (invalid token)"},
      {"UTF-8 for a surrogate", "<a>\xED\xA0\x80</a>", "not well-formed (invalid token)"},
      {"U+FFFE", "<a>\xEF\xBF\xBE</a>", "not well-formed (invalid token)"},
      {"double hyphen in a comment", "<a><!-- a -- b --></a>", "not well-formed (invalid token)"},
      {"']]>' in text", "<a>]]></a>", "not well-formed (invalid token)"},
      {"declaration not at the start", "\n<?xml version='1.0'?><a/>",
       "XML or text declaration not at start of entity"},
      {"unknown markup declaration", "<a><!x></a>", "not well-formed (invalid token)"},
      {"declaration without version", "<?xml encoding=\"UTF-8\"?><a/>",
       "XML declaration not well-formed"},
      {"misspelt declaration", "<?xml version=\"1.0\" encodng=\"UTF-8\"?><a/>",
       "XML declaration not well-formed"},
      {"invalid UTF-8 in an instruction", "<?pi x\xFF?><a/>", "not well-formed (invalid token)"},
      {"invalid UTF-8 in an instruction's name", "<?pi\xFF?><a/>",
       "not well-formed (invalid token)"},
      {"control character in a comment", "<a><!-- \x02 --></a>", "not well-formed (invalid token)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome expected = Parse(c.xml, XmlParserChoice::Tracked, 0);
    EXPECT_NE(expected.error.find(c.cause), std::string::npos) << expected.error;
    for (const std::size_t piece : {0, 1, 5}) {
      SCOPED_TRACE(piece);
      const Outcome own = Parse(c.xml, XmlParserChoice::Own, piece);
      EXPECT_NE(own.error.find("the part test.xml is not well-formed XML (line "),
                std::string::npos)
          << own.error;
      EXPECT_NE(own.error.find(c.cause), std::string::npos) << own.error;
    }
  }
}

TEST(XmlParser, OwnReaderNamesTheLineOfAnError) {
  const Outcome own = Parse("<a>\n<b>\r\n</c></a>", XmlParserChoice::Own, 2);
  EXPECT_NE(own.error.find("(line 3, column 2): mismatched tag"), std::string::npos) << own.error;
}

TEST(XmlParser, OwnReaderRefusesDocumentTypesAndHugeTags) {
  struct Case {
    const char* name;
    std::string xml;
    const char* message;
  };
  const Case cases[] = {
      {"document type", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
       "has a document type declaration, which is not allowed"},
      {"tag longer than 32 MB", "<a><b c=\"" + std::string(33u << 20, 'x'),
       "has a tag or comment longer than 32 MB"},
      {"comment longer than 32 MB", "<a><!--" + std::string(33u << 20, 'x'),
       "has a tag or comment longer than 32 MB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome own = Parse(c.xml, XmlParserChoice::Own, 64 * 1024);
    EXPECT_NE(own.error.find(c.message), std::string::npos) << own.error;
  }
}

// Nesting is refused one level past the limit, by each reader (ours, expat with its own
// or with our prefixes, expat for a document in another encoding, the quick tag scan),
// before it deepens further; the limit follows TANKLOAD_MAX_XML_DEPTH.
class TagCounter : public sheet::XmlTagScanner {
 public:
  TagCounter() : XmlTagScanner("test.xml") {}
  int starts = 0;

 protected:
  void OnStart(const XmlName&, const Tag&) override { ++starts; }
  void OnEnd(const XmlName&) override {}
};

TEST(XmlParser, NestingDeeperThanTheLimitIsRefused) {
  const auto nested = [](std::size_t depth, const std::string& declaration) {
    std::string xml = declaration;
    for (std::size_t i = 0; i < depth; ++i) xml += "<a x=\"1\">";
    for (std::size_t i = 0; i < depth; ++i) xml += "</a>";
    return xml;
  };
  struct Limit {
    const char* variable;  // nullptr: the default
    std::size_t depth;
  } limits[] = {{nullptr, 256}, {"8", 8}};
  for (const auto& limit : limits) {
    std::optional<sheet_test::ScopedEnv> env;
    if (limit.variable) env.emplace("TANKLOAD_MAX_XML_DEPTH", limit.variable);
    for (const std::string declaration : {"", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"}) {
      for (const auto prefixes :
           {XmlParserChoice::Expat, XmlParserChoice::Tracked, XmlParserChoice::Own}) {
        SCOPED_TRACE(std::to_string(limit.depth) + " " + declaration + " prefixes " +
                     std::to_string(static_cast<int>(prefixes)));
        EXPECT_EQ(Parse(nested(limit.depth, declaration), prefixes, 0).error, "");
        const Outcome deeper = Parse(nested(limit.depth + 1, declaration), prefixes, 7);
        EXPECT_NE(deeper.error.find("test.xml"), std::string::npos) << deeper.error;
        EXPECT_NE(deeper.error.find("limit of " + std::to_string(limit.depth) + " levels"),
                  std::string::npos)
            << deeper.error;
        EXPECT_NE(deeper.error.find("TANKLOAD_MAX_XML_DEPTH"), std::string::npos);
        EXPECT_EQ(deeper.events.size(), limit.depth);  // the start tags before the refusal
      }
    }
    SCOPED_TRACE("tag scanner");
    TagCounter fits;
    const std::string xml = nested(limit.depth, "");
    fits.Feed(xml.data(), xml.size());
    fits.Finish();
    EXPECT_FALSE(fits.Failed());
    EXPECT_EQ(fits.starts, static_cast<int>(limit.depth));
    TagCounter deeper;
    const std::string deeperXml = nested(limit.depth + 1, "");
    EXPECT_THROW(deeper.Feed(deeperXml.data(), deeperXml.size()), sheet::LimitError);
  }
}

}  // namespace
