#include "platform/StringList.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/Exception.h"

namespace platform {

std::size_t SplitLines(std::string_view text, std::vector<std::string>& out) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t stop = pos;
    while (stop < text.size() && text[stop] != '\r' && text[stop] != '\n') ++stop;
    const std::string_view piece = text.substr(pos, stop - pos);
    if (count < out.size()) {
      out[count].assign(piece);  // keeps the string's buffer
    } else {
      out.emplace_back(piece);
    }
    ++count;
    pos = stop;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  out.resize(count);
  return count;
}

}  // namespace platform

void TStringList::SetText(std::string_view text) { platform::SplitLines(text, items_); }

std::string TStringList::Text(std::string_view lineBreak) const {
  std::string out;
  for (const std::string& item : items_) {
    out += item;
    out += lineBreak;
  }
  return out;
}

void TStringList::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw EFileError("Cannot open file '" + path + "': " + std::strerror(errno));
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EFileError("Cannot read file '" + path + "'");
  platform::TextEncoding encoding = platform::TextEncoding::Utf8;
  const std::string text = platform::DecodeText(bytes, &encoding, path);
  SetText(text);
  encoding_ = encoding;
}
