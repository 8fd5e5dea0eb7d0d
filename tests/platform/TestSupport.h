#pragma once
// Shared pieces of the platform and conversion library tests: the two regional settings
// every table runs under, environment overrides, and a temporary directory per test.

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FormatSettings.h"

namespace testsupport {

// Decimal comma, "dd.mm.yyyy", 24-hour "H:mm".
inline TFormatSettings CommaLocale() {
  TFormatSettings fs = platform::RussianFormatSettings();
  fs.ShortDateFormat = "dd.mm.yyyy";
  return fs;
}

// Decimal point, "M/d/yyyy", 12-hour "h:nn AMPM".
inline TFormatSettings PointLocale() { return platform::UsFormatSettings(); }

// Sets (or, with nullptr, removes) an environment variable for the lifetime of the
// object; TZ changes are made known to the C library.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) saved_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
    tzset();
  }
  ~ScopedEnv() {
    if (saved_) {
      setenv(name_.c_str(), saved_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
    tzset();
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tankload-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The directory with a final "/".
  std::string Slashed() const { return path_.string() + "/"; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string file = File(name);
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport
