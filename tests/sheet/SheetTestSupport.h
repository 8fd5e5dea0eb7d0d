#pragma once
// Helpers of the spreadsheet bridge tests beside the shared test support: a message sink
// that records what the user would see, and the folders of real and crafted workbooks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Ui.h"
#include "tests/support/TestSupport.h"

namespace sheet_test {

// The shared test support serves the bridge tests too.
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

class RecordingSink : public platform::MessageSink {
 public:
  RecordingSink() : previous_(platform::SetMessageSink(this)) {}
  ~RecordingSink() override { platform::SetMessageSink(previous_); }
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;

 private:
  platform::MessageSink* previous_;
};

// The shared folder of real workbooks, or "" when it is not there.
inline std::string RealWorkbooksDir() {
  const std::filesystem::path dir = std::filesystem::path(TANKLOAD_SHARED_FIXTURES) / "workbooks";
  return std::filesystem::is_directory(dir) ? dir.string() : std::string();
}

// The names in a folder, sorted.
inline std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The folder of the crafted workbooks of data/make_hostile.py, made on first use and
// removed when the tests end; "" when they cannot be made (no python3).
inline std::string HostileWorkbooksDir() {
  static TempDir dir;
  static const bool made = std::system(("python3 '" + testsupport::SourcePath("tests/sheet/data") +
                                        "/make_hostile.py' '" + dir.path().string() + "'")
                                           .c_str()) == 0;
  return made ? dir.path().string() : std::string();
}

}  // namespace sheet_test
