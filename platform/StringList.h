#pragma once
// An ordered, unsorted list of strings with the platform's line rule.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Limits.h"
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

  // Loads a text file (platform::ReadRegularFile): its encoding is detected
  // (platform::DecodeText) and the text is split by the line rule. Raises EFileError when
  // the file is no regular file, cannot be read or holds NUL bytes without being UTF-16;
  // the list is unchanged then.
  void LoadFromFile(const std::string& path);
  platform::TextEncoding LoadedEncoding() const { return decoding_.encoding; }
  // The encoding and, for a text decoded line by line, the lines of each encoding.
  const platform::TextDecoding& LoadedDecoding() const { return decoding_; }

 private:
  std::vector<std::string> items_;
  platform::TextDecoding decoding_;
};

using TStrings = TStringList;

namespace platform {
// The bytes of a regular file. A device, FIFO, socket or directory raises EFileError at
// once, naming the file and what it is: reading /dev/zero would never end and a FIFO
// would wait for a writer. The file is opened without blocking and checked again after
// opening, so a file swapped in between is refused as well. A file of more than
// `maxBytes` bytes raises EFileError naming the file and the limit.
std::string ReadRegularFile(const std::string& path, std::uint64_t maxBytes);

// The largest text file that LoadFromFile reads: the environment variable
// TANKLOAD_MAX_TEXT_BYTES (bytes), else 1 GiB. A summary of a million rows is some
// 150 MB; the limit keeps a wrong file from exhausting memory.
std::uint64_t MaxTextFileBytes();
inline constexpr std::uint64_t kDefaultMaxTextFileBytes = kDefaultMaxTextBytes;

// Appends the pieces of `text` by the line rule to `out` (cleared first); reuses the
// strings already in `out` so that a caller scanning many lines does not reallocate.
// Returns the number of pieces.
std::size_t SplitLines(std::string_view text, std::vector<std::string>& out);
}  // namespace platform
