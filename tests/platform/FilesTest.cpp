// File checks and the file replaced as a whole through a temporary file.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "tests/support/TestSupport.h"

using platform::AtomicFile;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

// The names in the directory, so that a test sees a temporary file left behind.
std::vector<std::string> Names(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FileChecks, TellFilesFromDirectoriesAndMissingPaths) {
  TempDir dir;
  const std::string file = dir.Write("svod.txt", "a\tb\n");
  std::filesystem::create_directory(dir.File("sub"));
  std::filesystem::create_symlink(file, dir.File("link"));
  std::filesystem::create_symlink(dir.File("gone"), dir.File("dangling"));
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string path;
    bool exists;
    bool regular;
  } cases[] = {
      {"regular file", file, true, true},
      {"directory", dir.File("sub"), false, false},
      {"missing", dir.File("missing"), false, false},
      {"link to a file", dir.File("link"), true, true},
      {"dangling link", dir.File("dangling"), false, false},
      {"FIFO", dir.File("fifo"), true, false},
      {"empty path", "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::FileExists(c.path), c.exists);
    EXPECT_EQ(platform::IsRegularFile(c.path), c.regular);
  }
}

TEST(AtomicFile, CommitReplacesTheTargetAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.Write("out.txt", "old content");
  {
    AtomicFile file(target);
    ASSERT_EQ(file.Error(), 0);
    file.Write("first pass");
    file.Rewind();
    file.Write("new ");
    file.Write("content");
    EXPECT_EQ(ReadFile(target), "old content");  // not before Commit
    ASSERT_TRUE(file.Commit(0640));
  }
  EXPECT_EQ(ReadFile(target), "new content");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir), std::vector<std::string>{"out.txt"});
}

TEST(AtomicFile, WithoutCommitTheTargetStaysAndTheTemporaryFileGoes) {
  TempDir dir;
  const std::string target = dir.Write("out.txt", "old content");
  {
    AtomicFile file(target);
    file.Write("half written");
  }
  EXPECT_EQ(ReadFile(target), "old content");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"out.txt"});
}

TEST(AtomicFile, NewFileGetsTheUsualMode) {
  TempDir dir;
  const mode_t old = ::umask(022);
  {
    AtomicFile file(dir.File("new.txt"));
    file.Write("x");
    EXPECT_TRUE(file.Commit());
  }
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(AtomicFile, FailuresAreReportedAndCleanUp) {
  TempDir dir;
  // A directory in the target's place: the rename fails, the directory stays.
  std::filesystem::create_directory(dir.File("taken"));
  std::filesystem::create_directory(dir.File("taken/inside"));
  {
    AtomicFile file(dir.File("taken"));
    ASSERT_EQ(file.Error(), 0);
    file.Write("x");
    EXPECT_FALSE(file.Commit());
    EXPECT_NE(file.Error(), 0);
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken/inside")));
  EXPECT_EQ(Names(dir), std::vector<std::string>{"taken"});

  // No directory to create the temporary file in.
  AtomicFile missing(dir.File("no/such/dir/out.txt"));
  EXPECT_EQ(missing.Error(), ENOENT);
  missing.Write("x");
  EXPECT_FALSE(missing.Commit());
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
}

}  // namespace
