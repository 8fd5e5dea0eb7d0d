#include "sheet/XmlTagScanner.h"

#include <cstring>

#include "sheet/Workbook.h"
#include "sheet/XmlText.h"

namespace sheet {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view NameAt(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && !IsSpace(text[n]) && text[n] != '>' && text[n] != '/' &&
         text[n] != '=') {
    ++n;
  }
  return text.substr(0, n);
}

}  // namespace

XmlTagScanner::XmlTagScanner(std::string what, std::uint64_t maxDepth)
    : what_(std::move(what)), maxDepth_(maxDepth) {}

void XmlTagScanner::Feed(const char* data, std::size_t size) {
  if (failed_ || done_) return;
  pending_.append(data, size);
  // An unfinished token is scanned again from its start: wait for twice its size, so that
  // a huge tag costs linear time.
  if (pending_.size() < retryAt_) return;
  Scan();
}

void XmlTagScanner::Scan() {
  if (pending_.size() > XmlStreamParser::kMaxToken) {
    failed_ = true;
    return;
  }
  std::string_view text(pending_);
  std::size_t pos = 0;
  while (!failed_) {
    const void* lt = std::memchr(text.data() + pos, '<', text.size() - pos);
    if (lt == nullptr) {
      pos = text.size();
      break;
    }
    pos = static_cast<std::size_t>(static_cast<const char*>(lt) - text.data());
    const std::size_t length = Token(text.substr(pos));
    if (length == 0) break;
    pos += length;
  }
  pending_.erase(0, pos);
  retryAt_ = 2 * pending_.size();
}

void XmlTagScanner::Finish() {
  if (failed_ || done_) return;
  Scan();
  done_ = true;
  // An unfinished tag, or elements left open: let the full parser say what is wrong.
  if (!pending_.empty() || depth_ != 0) failed_ = true;
}

std::size_t XmlTagScanner::Token(std::string_view text) {
  auto until = [&](std::size_t from, std::string_view end) -> std::size_t {
    const auto at = text.find(end, from);
    return at == std::string_view::npos ? 0 : at + end.size();
  };
  if (text.size() < 2) return 0;
  switch (text[1]) {
    case '?': {
      const std::size_t length = until(2, "?>");
      // Names in another encoding than UTF-8 would come out unconverted.
      if (length != 0 && text.starts_with("<?xml")) {
        const std::string_view declaration = text.substr(0, length);
        const auto encoding = declaration.find("encoding");
        if (encoding != std::string_view::npos) {
          std::string value(declaration.substr(encoding + 8));
          for (char& c : value) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
          if (value.find("utf-8") == std::string::npos) failed_ = true;
        }
      }
      return length;
    }
    case '!':
      if (text.size() < 9) return 0;
      if (text.starts_with("<!--")) return until(4, "-->");
      if (text.starts_with("<![CDATA[")) return until(9, "]]>");
      if (text.starts_with("<!DOCTYPE")) {
        throw WorkbookError("the part " + what_ +
                            " has a document type declaration, which is not allowed");
      }
      failed_ = true;
      return 0;
    case '/': {
      const auto close = text.find('>', 2);
      if (close == std::string_view::npos) return 0;
      EndTag(NameAt(text.substr(2, close - 2)));
      return close + 1;
    }
    default: {
      // The tag ends at the first '>' outside a quoted attribute value.
      char quote = 0;
      for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          const bool selfClosing = text[i - 1] == '/';
          const std::string_view inner = text.substr(1, i - 1 - (selfClosing ? 1 : 0));
          const std::string_view name = NameAt(inner);
          if (name.empty() || name.find('\0') != std::string_view::npos) {  // UTF-16
            failed_ = true;
            return 0;
          }
          StartTag(name, inner.substr(name.size()), selfClosing);
          return i + 1;
        }
      }
      return 0;
    }
  }
}

void XmlTagScanner::StartTag(std::string_view name, std::string_view raw, bool selfClosing) {
  if (depth_ >= maxDepth_) ThrowTooDeep(what_, maxDepth_);
  ++depth_;
  // Namespace declarations of this element apply to its own name and attributes.
  if (raw.find("xmlns") != std::string_view::npos) {
    Tag probe;
    probe.scanner_ = this;
    probe.raw_ = raw;
    values_.clear();
    std::size_t pos = 0;
    while (pos < raw.size() && !failed_) {
      while (pos < raw.size() && IsSpace(raw[pos])) ++pos;
      if (pos >= raw.size()) break;
      const std::string_view attribute = NameAt(raw.substr(pos));
      pos += attribute.size();
      while (pos < raw.size() && IsSpace(raw[pos])) ++pos;
      if (attribute.empty() || pos >= raw.size() || raw[pos] != '=') {
        failed_ = true;
        break;
      }
      ++pos;
      while (pos < raw.size() && IsSpace(raw[pos])) ++pos;
      if (pos >= raw.size() || (raw[pos] != '"' && raw[pos] != '\'')) {
        failed_ = true;
        break;
      }
      const auto close = raw.find(raw[pos], pos + 1);
      if (close == std::string_view::npos) {
        failed_ = true;
        break;
      }
      const std::string_view value = raw.substr(pos + 1, close - pos - 1);
      pos = close + 1;
      std::string prefix;
      if (attribute == "xmlns") {
        prefix.clear();
      } else if (attribute.starts_with("xmlns:")) {
        prefix = std::string(attribute.substr(6));
      } else {
        continue;
      }
      std::string uri;
      if (!Decode(value, uri)) {
        failed_ = true;
        break;
      }
      scope_.Bind(depth_, prefix, uri);
    }
    if (failed_) return;
  }
  Tag tag;
  tag.scanner_ = this;
  tag.raw_ = raw;
  OnStart(scope_.Resolve(name, false), tag);
  if (selfClosing) EndTag(name);
}

void XmlTagScanner::EndTag(std::string_view name) {
  if (depth_ == 0) {
    failed_ = true;
    return;
  }
  OnEnd(scope_.Resolve(name, false));
  scope_.Leave(depth_);
  --depth_;
}

bool XmlTagScanner::Decode(std::string_view value, std::string& out) const {
  out.clear();
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '<') return false;
    if (c == '\t' || c == '\n' || c == '\r') {
      out += ' ';  // attribute value normalisation
      continue;
    }
    if (c != '&') {
      out += c;
      continue;
    }
    const auto semicolon = value.find(';', i);
    if (semicolon == std::string_view::npos) return false;
    // Anything but a decoded reference is left to the full parser to judge.
    if (DecodeXmlReference(value.substr(i + 1, semicolon - i - 1), out) != XmlReference::Decoded) {
      return false;
    }
    i = semicolon;
  }
  return true;
}

std::span<const XmlAttribute> XmlTagScanner::Tag::Attributes() const {
  auto& values = scanner_->values_;
  auto& attributes = scanner_->attributes_;
  values.clear();
  attributes.clear();
  std::vector<std::pair<std::string_view, std::size_t>> names;
  const std::string_view raw = raw_;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    while (pos < raw.size() && IsSpace(raw[pos])) ++pos;
    if (pos >= raw.size()) break;
    const std::string_view name = NameAt(raw.substr(pos));
    pos += name.size();
    while (pos < raw.size() && (IsSpace(raw[pos]) || raw[pos] == '=')) ++pos;
    if (name.empty() || pos >= raw.size() || (raw[pos] != '"' && raw[pos] != '\'')) break;
    const auto close = raw.find(raw[pos], pos + 1);
    if (close == std::string_view::npos) break;
    std::string decoded;
    if (!scanner_->Decode(raw.substr(pos + 1, close - pos - 1), decoded)) break;
    pos = close + 1;
    if (name == "xmlns" || name.starts_with("xmlns:")) continue;
    names.emplace_back(name, values.size());
    values.push_back(std::move(decoded));
  }
  // Views into `values` are taken once it no longer grows.
  for (const auto& [name, index] : names) {
    attributes.push_back({scanner_->scope_.Resolve(name, true), values[index]});
  }
  return attributes;
}

}  // namespace sheet
