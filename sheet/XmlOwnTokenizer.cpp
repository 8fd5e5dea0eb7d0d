// The own tokenizer of XmlStreamParser (XmlParserChoice::Own).
//
// Large parts (worksheets, shared strings, content.xml) are read by a tokenizer of our own
// rather than by expat: a workbook part is UTF-8 without a document type, which leaves
// tags, attributes, character and entity references, comments, processing instructions
// and CDATA sections. The reader checks what makes a document well-formed (nesting,
// names, attribute syntax, unique attributes, references, characters and UTF-8, a single
// root) and reports the same errors in expat's words; a document in another encoding is
// handed to expat whole, before anything of it has been reported.

#include <expat.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "sheet/Workbook.h"
#include "sheet/XmlCharClasses.h"
#include "sheet/XmlParserImpl.h"
#include "sheet/XmlText.h"

namespace sheet {

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

void XmlStreamParser::Impl::Remember(KnownName& memo, std::size_t begin, std::size_t end) const {
  if (end - begin <= kKnownNameLength) {
    memo.text.assign(pending.data() + begin, end - begin);
  } else {
    memo.text.clear();
  }
  memo.generation = 0;
}

std::size_t XmlStreamParser::Impl::KnownEnd(const KnownName& name, std::size_t at) const {
  const std::size_t size = name.text.size();
  if (size == 0 || pending.size() - at <= size) return 0;
  if (kNameChars[static_cast<unsigned char>(pending[at + size])] != 0) return 0;
  return SameBytesAt(pending.data() + at, name.text.data(), size) ? at + size : 0;
}

XmlName XmlStreamParser::Impl::ResolveKnown(KnownName& memo, std::string_view name,
                                            bool isAttribute) {
  const std::uint64_t generation = scope.Generation();
  if (memo.generation != generation) {
    const XmlName resolved = scope.Resolve(name, isAttribute);
    memo.ns = resolved.ns;
    memo.localOffset = name.size() - resolved.local.size();
    memo.generation = generation;
  }
  return {memo.ns, name.substr(memo.localOffset)};
}

[[noreturn]] void XmlStreamParser::Impl::Malformed(XML_Error code, std::size_t at) const {
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

bool XmlStreamParser::Impl::Decide(bool final) {
  std::string_view head(pending);
  if (head.size() < 4 && !final) return false;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
  if (head.size() >= 2 && ((byte(0) == 0xFE && byte(1) == 0xFF) ||
                           (byte(0) == 0xFF && byte(1) == 0xFE) || byte(0) == 0 || byte(1) == 0)) {
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

void XmlStreamParser::Impl::Consume(std::size_t n) {
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

void XmlStreamParser::Impl::Scan(bool final) {
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

void XmlStreamParser::Impl::FinishOwn() {
  Scan(true);
  if (!sawRoot || !open.empty()) Malformed(XML_ERROR_NO_ELEMENTS, 0);
}

std::size_t XmlStreamParser::Impl::SafeTextEnd(std::size_t pos, std::size_t n) const {
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

std::size_t XmlStreamParser::Impl::NameEnd(std::size_t i, std::size_t limit) const {
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

std::string_view XmlStreamParser::Impl::Decode(std::size_t begin, std::size_t end,
                                               const std::array<std::uint8_t, 256>& classes,
                                               bool attribute, std::string& out) const {
  const auto* p = reinterpret_cast<const unsigned char*>(pending.data());
  std::size_t i = begin;
  for (;;) {
    // Four bytes at a time while all of them stand for themselves.
    while (end - i >= 4 &&
           (classes[p[i]] | classes[p[i + 1]] | classes[p[i + 2]] | classes[p[i + 3]]) == kPlain) {
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

void XmlStreamParser::Impl::CheckChars(std::size_t begin, std::size_t end) const {
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

std::size_t XmlStreamParser::Impl::Reference(std::size_t i, std::size_t end,
                                             std::string& out) const {
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

void XmlStreamParser::Impl::Text(std::size_t begin, std::size_t end) {
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

std::size_t XmlStreamParser::Impl::Markup(std::size_t pos) {
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

std::size_t XmlStreamParser::Impl::EndTag(std::size_t pos) {
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

void XmlStreamParser::Impl::EndElement() {
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

std::size_t XmlStreamParser::Impl::Instruction(std::size_t pos) {
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

std::size_t XmlStreamParser::Impl::Declaration(std::size_t pos) {
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

std::size_t XmlStreamParser::Impl::StartTag(std::size_t pos) {
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
  open.push_back({openNames.size(), name.size(), name.size() - resolved.local.size(), resolved.ns});
  openNames += name;
  sawRoot = true;
  handler.TakeSkipContent();  // a request made outside OnStart is void
  handler.OnStart(resolved, attributes);
  if (handler.TakeSkipContent()) skipFrom = depth;
  if (selfClosing) EndElement();
  return i - pos;
}

}  // namespace sheet
