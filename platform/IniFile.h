#pragma once
// A settings file in the INI layout that Windows programs read and write: "[Section]"
// lines, "Key=Value" lines, comments starting with ";" or "#". Section and key names
// match without regard to letter case (Latin and Cyrillic) and to surrounding blanks;
// values are trimmed when read. Every call reads the file afresh, as the profile
// functions of Windows do; a write keeps every other section, key, comment and blank
// line as it was and replaces the file atomically (a temporary file beside it, then a
// rename), so a crash never leaves half a file.

#include <string>
#include <vector>

class TIniFile {
 public:
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  // The value of `key` in `section`, trimmed; `def` when the file, the section or the
  // key is missing. The first matching section and the first matching key count.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  // Sets the value (trimmed), adding the section and the key when missing. Raises
  // Exception("Unable to write to <file name>") when the file cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Removes the key; a missing key or section changes nothing (the file is not written).
  void DeleteKey(const std::string& section, const std::string& key);

 private:
  std::vector<std::string> ReadLines(std::string* lineBreak) const;
  void WriteLines(const std::vector<std::string>& lines, const std::string& lineBreak) const;

  std::string fileName_;
};
