#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "convert/Smallfun.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

std::string Hex4(unsigned n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", n & 0xFFFFu);
  return buf;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(DirAdds, JoinsWithOneSeparator) {
  struct Case {
    const char* base;
    const char* sub;
    const char* expected;
  } cases[] = {
      {"/tmp/", "", "/tmp/"},
      {"/tmp", "", "/tmp/"},
      {"/tmp", "Sub", "/tmp/Sub/"},
      {"/tmp", "/Sub/", "/tmp/Sub/"},
      {"", "Sub", "/Sub/"},
      {"  /tmp  ", "  Sub  ", "/tmp/Sub/"},
      {"/tmp", "Data/Sub", "/tmp/Data/Sub/"},
      {"/tmp", "C:/Data/Sub", "/tmp/Data/Sub/"},
      {"/tmp", "D:Data", "/tmp/Data/"},
      {"", "", "/"},
      // A blank sub-directory or a bare separator adds no second separator.
      {"/tmp", "  ", "/tmp/"},
      {"/tmp", "/", "/tmp/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + c.sub);
    EXPECT_EQ(DirAdds(c.base, c.sub), c.expected);
  }
}

TEST(ZnGetPath, DirectoryCodes) {
  TempDir dir;
  {
    ScopedEnv tmp("TMPDIR", dir.path().c_str());
    EXPECT_EQ(ZnGetPath(3), dir.Dir());
  }
  {
    ScopedEnv tmp("TMPDIR", dir.Dir().c_str());
    EXPECT_EQ(ZnGetPath(3), dir.Dir());
  }
  {
    ScopedEnv tmp("TMPDIR", nullptr);
    EXPECT_EQ(ZnGetPath(3), "/tmp/");
  }
  {
    ScopedEnv tmp("TMPDIR", "");
    EXPECT_EQ(ZnGetPath(3), "/tmp/");
  }
  EXPECT_EQ(ZnGetPath(4), fs::current_path().string());
  for (int code : {0, 1, 2, 5, -1}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ZnGetPath(code), "");
  }
}

TEST(GenerateTempFileName, CreatesAnEmptyFileWithThreeLettersOfThePrefix) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", dir.path().c_str());
  const std::string first = GenerateTempFileName("ZNTX");
  const std::string second = GenerateTempFileName("ZNTX");
  for (const std::string& name : {first, second}) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.rfind(dir.Dir() + "ZNT", 0), 0u);
    EXPECT_EQ(fs::path(name).extension(), ".TMP");
    EXPECT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
  }
  EXPECT_NE(first, second);
}

TEST(GenerateTempFileName, MissingDirectoryGivesEmpty) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", (dir.path() / "missing").c_str());
  EXPECT_EQ(GenerateTempFileName("ZNT"), "");
}

TEST(ZnGenerateTempFileName, Extensions) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", dir.path().c_str());
  struct Case {
    const char* extension;
    const char* expected;
  } cases[] = {
      {"txt", ".txt"},   {".txt", ".txt"}, {"a.b.txt", ".txt"},
      {" txt ", ".txt"}, {"", ".TMP"},     {"   ", ".TMP"},
      {"dir\\", ".TMP"}, {"dir/", ".TMP"}, {"C:\\x\\y.dat", ".dat"},
      {"C:", ".TMP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extension);
    const std::string name = ZnGenerateTempFileName(TempFilePrefix, c.extension);
    EXPECT_EQ(fs::path(name).extension(), c.expected);
    EXPECT_EQ(fs::path(name).parent_path(), dir.path());
    const std::string stem = fs::path(name).stem().string();
    ASSERT_EQ(stem.size(), 7u);
    EXPECT_EQ(stem.substr(0, 3), "ZNT");
    EXPECT_EQ(stem.find_first_not_of("0123456789ABCDEF", 3), std::string::npos);
    EXPECT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
  }
  EXPECT_EQ(TempFilePrefix, "ZNT");
  EXPECT_EQ(TempFileExtension, "TMP");
}

TEST(ZnGenerateTempFileName, SkipsExistingCandidatesAndLeavesThemAlone) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", dir.path().c_str());
  // The counter starts after the low 16 bits of the hundredths of a second: occupy the
  // candidates of the next ten seconds, each holding data that must survive.
  const auto seed = static_cast<unsigned>(
      static_cast<std::uint64_t>(std::trunc(platform::Now() * 8640000.0)) & 0xFFFFu);
  constexpr unsigned kTaken = 1000;
  for (unsigned i = 1; i <= kTaken; ++i) {
    std::ofstream(dir.Dir() + "ZNT" + Hex4(seed + i) + ".TMP") << "data " << i;
  }
  const std::string name = ZnGenerateTempFileName("ZNT", "TMP");
  EXPECT_EQ(name, dir.Dir() + "ZNT" + Hex4(seed + kTaken + 1) + ".TMP");
  EXPECT_EQ(fs::file_size(name), 0u);
  for (unsigned i = 1; i <= kTaken; ++i) {
    ASSERT_EQ(Contents(dir.Dir() + "ZNT" + Hex4(seed + i) + ".TMP"), "data " + std::to_string(i));
  }
}

TEST(ZnGenerateTempFileName, RaisesWhenNoCandidateCanBeCreated) {
  TempDir dir;
  ScopedEnv tmp("TMPDIR", dir.path().c_str());
  try {
    ZnGenerateTempFileName("missing-directory/ZNT", "TMP");
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Не могу создать временный файл");
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}
