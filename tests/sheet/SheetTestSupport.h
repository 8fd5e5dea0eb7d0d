#pragma once
// Helpers shared by the spreadsheet bridge tests: a per-test temporary directory, file
// reading and writing, and a message sink that records what the user would see.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Ui.h"

namespace sheet_test {

class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tankload-sheet-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

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

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The shared folder of real workbooks, or "" when it is not there.
inline std::string RealWorkbooksDir() {
  const std::filesystem::path dir = std::filesystem::path(TANKLOAD_SHARED_FIXTURES) / "workbooks";
  return std::filesystem::is_directory(dir) ? dir.string() : std::string();
}

inline std::string OwnDataDir() { return std::string(TANKLOAD_SOURCE_DIR) + "/tests/sheet/data"; }

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
  static const bool made =
      std::system(("python3 '" + OwnDataDir() + "/make_hostile.py' '" + dir.path().string() + "'")
                      .c_str()) == 0;
  return made ? dir.path().string() : std::string();
}

}  // namespace sheet_test
