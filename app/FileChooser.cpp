#include "app/FileChooser.h"

#include "platform/Text.h"

namespace app {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// Patterns of one filter entry as the dialog takes them, separated by blanks.
std::string DialogPatterns(const std::string& patterns) {
  std::string out;
  auto add = [&out](const std::string& p) {
    if (p.empty()) return;
    if (!out.empty()) out += ' ';
    out += p;
  };
  for (const std::string& raw : Split(patterns, ';')) {
    const std::string p = platform::Trim(raw);
    if (p == "*.*") {
      add("*");
    } else if (platform::LowerCase(p) == "*.xls") {
      // A Windows "*.xls" pattern also matches ".xlsx"; offer every workbook the engine
      // reads.
      add(p + " *.xlsx *.xlsm *.ods");
    } else {
      add(p);
    }
  }
  return out;
}

}  // namespace

ChooserStart SplitChooserPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::vector<std::string> DialogFilters(const std::string& filter) {
  std::vector<std::string> out;
  const std::vector<std::string> parts = Split(filter, '|');
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    const std::string patterns = DialogPatterns(parts[i + 1]);
    if (patterns.empty()) continue;
    const std::string description = platform::Trim(parts[i]);
    if (description.empty() || description == platform::Trim(parts[i + 1])) {
      out.push_back(patterns);
    } else {
      out.push_back(description + " (" + patterns + ")");
    }
  }
  return out;
}

std::string IniPathForExecutable(const std::string& executablePath) {
  const std::size_t slash = executablePath.rfind('/');
  const std::size_t dot = executablePath.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) {
    return executablePath.substr(0, dot) + ".ini";
  }
  return executablePath + ".ini";
}

}  // namespace app
