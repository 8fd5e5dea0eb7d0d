// The registry of temporary files removed on SIGINT and SIGTERM. Each case runs in a
// child process, since the handlers are installed once per process and the signal ends
// the child: the files it registered are gone, the others stay, the signal still ends it
// (or reaches the handler that was there before), and an ignored signal stays ignored.

#include "platform/TempFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "TestSupport.h"

namespace {

class TempFilesTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return dir.File(name); }
  static void Touch(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    if (fd >= 0) ::close(fd);
  }
  static bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

  // Runs `body` in a child process and returns its wait status.
  static int InChild(const std::function<void()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
      body();
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
  }

  testsupport::TempDir dir;
};

TEST_F(TempFilesTest, SignalRemovesTheRegisteredFilesAndStillEndsTheProcess) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    const std::string kept = File("kept");
    const std::string released = File("released");
    const std::string other = File("other");
    const int status = InChild([&] {
      Touch(kept);
      Touch(released);
      Touch(other);
      platform::RegisterTempFile(kept);
      platform::UnregisterTempFile(platform::RegisterTempFile(released));
      ::raise(signal);
      ::_exit(0);  // not reached: the signal ends the process
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_FALSE(Exists(kept));
    EXPECT_TRUE(Exists(released));
    EXPECT_TRUE(Exists(other));
    std::filesystem::remove(released);
    std::filesystem::remove(other);
  }
}

// A handler that was installed before the first registration still gets the signal,
// after the files are removed; here it ends the child with status 3.
TEST_F(TempFilesTest, EarlierHandlerIsCalledAfterTheRemoval) {
  const std::string file = File("file");
  const int status = InChild([&] {
    Touch(file);
    struct sigaction before {};
    before.sa_handler = [](int) { ::_exit(3); };
    sigemptyset(&before.sa_mask);
    ::sigaction(SIGTERM, &before, nullptr);
    platform::RegisterTempFile(file);
    ::raise(SIGTERM);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_FALSE(Exists(file));
}

// A process started with SIGINT ignored (a background job) keeps ignoring it.
TEST_F(TempFilesTest, IgnoredSignalStaysIgnored) {
  const std::string file = File("file");
  const int status = InChild([&] {
    Touch(file);
    ::signal(SIGINT, SIG_IGN);
    platform::RegisterTempFile(file);
    ::raise(SIGINT);
    ::_exit(5);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 5);
  EXPECT_TRUE(Exists(file));
}

// The table is fixed: past its room a registration fails and frees nothing; a freed
// entry is used again; a path too long to keep is refused.
TEST_F(TempFilesTest, TableHasAFixedRoom) {
  const int status = InChild([&] {
    int entries[platform::kMaxTempFiles];
    for (int i = 0; i < platform::kMaxTempFiles; ++i) {
      entries[i] = platform::RegisterTempFile(File("f" + std::to_string(i)));
      if (entries[i] < 0) ::_exit(10);
    }
    if (platform::RegisterTempFile(File("one more")) != -1) ::_exit(11);
    platform::UnregisterTempFile(entries[7]);
    if (platform::RegisterTempFile(File("again")) != entries[7]) ::_exit(12);
    if (platform::RegisterTempFile(std::string(platform::kMaxTempFilePath + 1, 'x')) != -1) {
      ::_exit(13);
    }
    ::_exit(0);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
