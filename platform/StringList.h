#pragma once
// An ordered, unsorted list of strings with the platform's line rule.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"

class TStringList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const { return items_[static_cast<std::size_t>(index)]; }
  std::string& operator[](int index) { return items_[static_cast<std::size_t>(index)]; }
  void Add(std::string item) { items_.push_back(std::move(item)); }
  void Clear() { items_.clear(); }
  const std::vector<std::string>& Items() const { return items_; }

  // Replaces the items by the lines of `text`: reading stops at the first NUL; a line
  // ends at CR, LF or CR LF; a break at the very end adds no empty line.
  void SetText(std::string_view text);
  // The items joined, each followed by `lineBreak`.
  std::string Text(std::string_view lineBreak = "\n") const;

  // Loads a text file: its encoding is detected (platform::DecodeText) and the text is
  // split by the line rule. Raises EFileError when the file cannot be read or holds NUL
  // bytes without being UTF-16.
  void LoadFromFile(const std::string& path);
  platform::TextEncoding LoadedEncoding() const { return encoding_; }

 private:
  std::vector<std::string> items_;
  platform::TextEncoding encoding_ = platform::TextEncoding::Utf8;
};

using TStrings = TStringList;

namespace platform {
// Appends the pieces of `text` by the line rule to `out` (cleared first); reuses the
// strings already in `out` so that a caller scanning many lines does not reallocate.
// Returns the number of pieces.
std::size_t SplitLines(std::string_view text, std::vector<std::string>& out);
}  // namespace platform
