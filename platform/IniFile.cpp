#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace platform {
namespace {

std::string FoldName(const std::string& name) { return UpperCase(Trim(name)); }

bool IsComment(const std::string& trimmed) {
  return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// The folded section name of a "[Section]" line, or false for any other line.
bool SectionOfLine(const std::string& line, std::string& name) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  std::size_t close = t.rfind(']');
  if (close == std::string::npos || close == 0) close = t.size();
  name = FoldName(t.substr(1, close - 1));
  return true;
}

// The folded key of a "Key=Value" line and its trimmed value; false for other lines.
bool KeyOfLine(const std::string& line, std::string& key, std::string* value) {
  std::string t = Trim(line);
  if (t.empty() || IsComment(t) || t[0] == '[') return false;
  std::size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = FoldName(t.substr(0, eq));
  if (value) *value = Trim(std::string_view(t).substr(eq + 1));
  return !key.empty();
}

// Index range [first, last) of the lines of the first section named `section`; first is
// the index of its header line. False when there is no such section.
bool FindSection(const std::vector<std::string>& lines, const std::string& section,
                 std::size_t& first, std::size_t& last) {
  const std::string wanted = FoldName(section);
  std::string name;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!SectionOfLine(lines[i], name) || name != wanted) continue;
    first = i;
    last = i + 1;
    while (last < lines.size() && !SectionOfLine(lines[last], name)) ++last;
    return true;
  }
  return false;
}

// Index of the first line of `key` inside the section range, or npos.
std::size_t FindKey(const std::vector<std::string>& lines, std::size_t first, std::size_t last,
                    const std::string& key, std::string* value) {
  const std::string wanted = FoldName(key);
  std::string name;
  for (std::size_t i = first + 1; i < last; ++i) {
    if (KeyOfLine(lines[i], name, value) && name == wanted) return i;
  }
  return std::string::npos;
}

void CheckWritable(const std::string& text, bool isSection) {
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '\0' || (isSection && c == ']')) {
      throw Exception("Invalid character in the settings entry \"" + Trim(text) + "\"");
    }
  }
}

}  // namespace
}  // namespace platform

using namespace platform;

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::vector<std::string> TIniFile::ReadLines(std::string* lineBreak) const {
  std::vector<std::string> lines;
  if (lineBreak) *lineBreak = "\n";
  // A missing or unreadable file, or something that is no file, reads as empty.
  std::string text;
  const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return lines;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return lines;
  }
  char buffer[8192];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::size_t lf = text.find('\n');
  if (lineBreak && lf != std::string::npos && lf > 0 && text[lf - 1] == '\r') *lineBreak = "\r\n";
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

void TIniFile::WriteLines(const std::vector<std::string>& lines,
                          const std::string& lineBreak) const {
  const Exception failure("Unable to write to " + fileName_);
  // Write through a symbolic link to the file it names, so that the link stays.
  std::string target = fileName_;
  struct stat st {};
  bool exists = false;
  if (lstat(fileName_.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      char resolved[PATH_MAX];
      if (realpath(fileName_.c_str(), resolved) != nullptr) target = resolved;
    }
    exists = stat(target.c_str(), &st) == 0;
  }
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += lineBreak;
  }
  AtomicFile file(target);
  file.Write(text);
  if (!file.Commit(exists ? st.st_mode & 07777 : NewFileMode())) throw failure;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  std::vector<std::string> lines = ReadLines(nullptr);
  std::size_t first = 0;
  std::size_t last = 0;
  if (!FindSection(lines, section, first, last)) return def;
  std::string value;
  if (FindKey(lines, first, last, key, &value) == std::string::npos) return def;
  return value;
}

bool TIniFile::SectionExists(const std::string& section) const {
  std::vector<std::string> lines = ReadLines(nullptr);
  std::size_t first = 0;
  std::size_t last = 0;
  return FindSection(lines, section, first, last);
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  std::vector<std::string> lines = ReadLines(nullptr);
  std::size_t first = 0;
  std::size_t last = 0;
  return FindSection(lines, section, first, last) &&
         FindKey(lines, first, last, key, nullptr) != std::string::npos;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  CheckWritable(section, true);
  CheckWritable(key, false);
  CheckWritable(value, false);
  if (IsBlank(section) || IsBlank(key) || key.find('=') != std::string::npos) {
    throw Exception("Invalid settings entry [" + Trim(section) + "] " + Trim(key));
  }
  std::string lineBreak;
  std::vector<std::string> lines = ReadLines(&lineBreak);
  const std::string trimmedValue = Trim(value);
  std::size_t first = 0;
  std::size_t last = 0;
  if (!FindSection(lines, section, first, last)) {
    if (!lines.empty() && !IsBlank(lines.back())) lines.emplace_back();
    lines.push_back("[" + Trim(section) + "]");
    lines.push_back(Trim(key) + "=" + trimmedValue);
  } else if (std::size_t at = FindKey(lines, first, last, key, nullptr); at != std::string::npos) {
    // Keep the key as the file spells it; replace only the value.
    std::string stored = Trim(lines[at].substr(0, lines[at].find('=')));
    lines[at] = stored + "=" + trimmedValue;
  } else {
    // After the section's last non-blank line, so blank separators stay below it.
    std::size_t insertAt = last;
    while (insertAt > first + 1 && IsBlank(lines[insertAt - 1])) --insertAt;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                 Trim(key) + "=" + trimmedValue);
  }
  WriteLines(lines, lineBreak);
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  std::string lineBreak;
  std::vector<std::string> lines = ReadLines(&lineBreak);
  std::size_t first = 0;
  std::size_t last = 0;
  if (!FindSection(lines, section, first, last)) return;
  std::size_t at = FindKey(lines, first, last, key, nullptr);
  if (at == std::string::npos) return;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
  WriteLines(lines, lineBreak);
}
