#pragma once
// How the file chooser is set up from a stored path and a filter of
// "description|patterns|description|patterns" pairs, without any widget.

#include <string>
#include <vector>

namespace app {

struct ChooserStart {
  std::string directory;  // no trailing "/" except for the root directory
  std::string fileName;   // shown in the name box; may be a pattern such as "*.xls"
};

ChooserStart SplitChooserPath(const std::string& path);

// The name filters of the dialog for a filter of "description|patterns" pairs (patterns
// separated by ";"). A "*.xls" pattern also offers the other workbook formats the
// engine reads, and "*.*" becomes "*" (every file, with or without an extension). A pair
// whose description is its pattern text shows just the patterns.
std::vector<std::string> DialogFilters(const std::string& filter);

// The settings file of an executable: its path with the extension replaced by ".ini"
// (appended when the name has none).
std::string IniPathForExecutable(const std::string& executablePath);

}  // namespace app
