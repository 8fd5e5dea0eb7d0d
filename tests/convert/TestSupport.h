#pragma once
// Shared pieces of the conversion library's tests: the two regional settings every
// table runs under, environment overrides, a temporary directory per test, and a
// readable form of variants in failure messages.

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "convert/Smallfun.h"
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

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport

inline void PrintTo(const Variant& v, std::ostream* os) {
  *os << VarTypeAsString(v) << "(type " << v.VType() << ")";
  switch (v.VType()) {
    case varString:
    case varOleStr:
      *os << " \"" << v.Text() << "\"";
      break;
    case varSingle:
    case varDouble:
    case varDate:
    case varCurrency:
      *os << " " << v.DoubleValue();
      break;
    case varEmpty:
    case varNull:
      break;
    default:
      *os << " " << v.IntValue();
  }
}
