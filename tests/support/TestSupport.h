#pragma once
// What the tests of every module share: a temporary directory per test, whole-file reading
// and writing, environment overrides, the PostgreSQL test server's connection string with
// the skip for when there is none, and readable names for parameterised cases.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace testsupport {

// A fresh directory "tankload-<tag>-XXXXXX" under $TMPDIR (or /tmp), removed with
// everything in it, even what a test made unwritable. Throws when none can be made.
class TempDir {
 public:
  explicit TempDir(std::string_view tag = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory with a final "/".
  std::string Dir() const { return path_.string() + "/"; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }
  // Writes `bytes` to the file `name` in the directory; its path.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// The file's bytes, or "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Creates or replaces the file with exactly `bytes`; fails the test when it cannot.
void WriteFile(const std::string& path, std::string_view bytes);
bool Exists(const std::string& path);
// Binds a Unix stream socket at `path` (a special file that is not a regular one) and
// returns its descriptor, or -1 with errno set; the caller closes it.
int BindUnixSocket(const std::string& path);

// A file of the source tree, by its path relative to the tree's root.
std::string SourcePath(std::string_view relative);

// Sets (or, with nullptr, removes) an environment variable for the lifetime of the
// object; TZ changes are made known to the C library.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// The PostgreSQL test server's connection string (TANKLOAD_TEST_PG), or "".
std::string PgConnectionString();
// Why a PostgreSQL case is skipped when there is no server.
inline constexpr const char* kNoPgServer =
    "TANKLOAD_TEST_PG is not set: no PostgreSQL server to test with (scripts/pg-start starts one)";

// `readable` as a name GoogleTest accepts for a case: every character other than an ASCII
// letter or digit becomes '_'.
std::string TestName(std::string_view readable);

// Name generator for INSTANTIATE_TEST_SUITE_P over case structs with a `name` member.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return TestName(info.param.name);
  }
};

}  // namespace testsupport

// Skips the running test when no PostgreSQL test server is configured.
#define TANKLOAD_REQUIRE_PG()                          \
  do {                                                 \
    if (::testsupport::PgConnectionString().empty()) { \
      GTEST_SKIP() << ::testsupport::kNoPgServer;      \
    }                                                  \
  } while (0)
