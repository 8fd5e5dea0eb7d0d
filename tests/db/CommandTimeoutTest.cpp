// The command timeout of PostgreSQL sessions: a statement that runs too long is
// cancelled, and a server process that does not answer at all (stopped by SIGSTOP) does
// not hold the program: the statement fails with a message that names the timeout, and
// the transaction's rows are not kept.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "db/Database.h"
#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::ErrorOf;
using dbtest::ExecQuery;
using testsupport::Scalar;

constexpr const char* kTimedOut =
    "the statement did not finish within the \"Command Timeout\" of 1 s and was cancelled";

// Stops a server process of the test's own session and lets it run on again however the
// test ends. Nothing but the backend of the test's own connection is ever stopped.
class StoppedBackend {
 public:
  explicit StoppedBackend(int pid) : pid_(pid) {}
  ~StoppedBackend() { Continue(); }
  StoppedBackend(const StoppedBackend&) = delete;
  StoppedBackend& operator=(const StoppedBackend&) = delete;
  void Stop() {
    if (pid_ > 0 && ::kill(pid_, SIGSTOP) == 0) stopped_ = true;
  }
  void Continue() {
    if (stopped_.exchange(false)) ::kill(pid_, SIGCONT);
  }
  bool stopped() const { return stopped_; }
  // Lets the process run again after at most about `seconds`, or once `done` is set.
  void ContinueAfter(const std::atomic<bool>& done, int seconds) {
    for (int i = 0; i < seconds * 100 && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Continue();
  }

 private:
  int pid_;
  std::atomic<bool> stopped_{false};
};

int BackendPid(db::Connection& c) {
  return Scalar(c.Database(), "SELECT pg_backend_pid()").toInt();
}

// Waits until the server process `pid` has ended or runs the statement that `what`
// starts with, as the server's activity view tells. Not a check: gives up quietly after
// a few seconds.
void AwaitBackend(db::Connection& observer, int pid, const std::string& what) {
  const std::string sql =
      "SELECT count(*) FROM pg_stat_activity WHERE pid = " + std::to_string(pid) +
      (what.empty() ? std::string()
                    : " AND state = 'active' AND query LIKE " + dbtest::Literal(what + "%"));
  for (int i = 0; i < 500; ++i) {
    const int found = Scalar(observer.Database(), sql).toInt();
    if (what.empty() ? found == 0 : found > 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class CommandTimeout : public ::testing::Test {
 protected:
  void SetUp() override {
    TANKLOAD_REQUIRE_PG();
    database_ = std::make_unique<testsupport::TestDatabase>(db::Engine::PostgreSQL);
    db::CreateSchema(database_->connection());
  }
  int Rows(const std::string& project) {
    return Scalar(database_->database(),
                  "SELECT count(*) FROM FromExcel WHERE Project = " + dbtest::Literal(project))
        .toInt();
  }
  std::unique_ptr<testsupport::TestDatabase> database_;
};

// A statement that runs longer than the timeout is cancelled; the session stays usable
// and its transaction is rolled back. "Command Timeout=0" sets no limit, as in ADO.
TEST_F(CommandTimeout, LongStatementIsCancelled) {
  struct Case {
    const char* timeout;
    const char* expected;  // the error, or "(no error)"
  };
  const Case cases[] = {{"1", kTimedOut}, {"0", "(no error)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeout);
    auto connection = dbtest::Connect(*database_, std::string(";Command Timeout=") + c.timeout);
    const std::string message = ErrorOf([&] {
      db::Transaction transaction(*connection);
      ExecQuery(*connection, dbtest::InsertText("cancelled", "C"));
      ExecQuery(*connection, "SELECT pg_sleep(1.5)");  // rolled back at the end
    });
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    if (std::string(c.expected) != "(no error)") {
      EXPECT_EQ(message.rfind(connection->Describe() + ": ", 0), 0u) << message;
    }
    EXPECT_EQ(ExecQuery(*connection, dbtest::InsertText("after", "A")), 1);
    EXPECT_EQ(Rows("C"), 0);
  }
}

// The server process stops in the middle of a statement and answers nothing, not even
// the cancel request: the connection is given up, the statement fails with the timeout's
// message, and the server drops the transaction once the process runs again.
TEST_F(CommandTimeout, StoppedServerProcessDoesNotHoldTheProgram) {
  auto victim = dbtest::Connect(*database_, ";Command Timeout=1");
  const int pid = BackendPid(*victim);
  ASSERT_GT(pid, 0);
  StoppedBackend backend(pid);
  std::atomic<bool> returned{false};
  std::atomic<bool> wasStopped{false};
  std::thread stopper([&] {
    // A Qt connection belongs to the thread that made it.
    auto observer = dbtest::Connect(*database_);
    AwaitBackend(*observer, pid, "SELECT pg_sleep");
    backend.Stop();
    wasStopped = backend.stopped();
    // Should the statement never return, the server process is let go all the same,
    // and the test fails instead of hanging.
    backend.ContinueAfter(returned, 20);
  });
  std::string message;
  {
    db::Transaction transaction(*victim);
    ExecQuery(*victim, dbtest::InsertText("lost", "S"));
    message = ErrorOf([&] { ExecQuery(*victim, "SELECT pg_sleep(30)"); });
    returned = true;
  }
  stopper.join();
  backend.Continue();
  EXPECT_TRUE(wasStopped);
  EXPECT_NE(message.find(kTimedOut), std::string::npos) << message;
  // The server process ends when it finds the connection gone; its transaction with it.
  AwaitBackend(database_->connection(), pid, "");
  EXPECT_EQ(Rows("S"), 0);
  // The connection is broken for good: further statements fail at once.
  EXPECT_NE(ErrorOf([&] { ExecQuery(*victim, "SELECT 1"); }), "(no error)");
}

}  // namespace
