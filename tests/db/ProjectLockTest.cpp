// One import of a project at a time: the transaction with the project's lock, taken by
// two connections at once, by imports of different projects, and past the busy timeout.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/Database.h"
#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::ExecQuery;
using dbtest::InsertText;
using dbtest::Literal;
using testsupport::BothEngines;
using testsupport::Scalar;
using testsupport::Std;

using dbtest::ImportProject;
using dbtest::LockOf;
using dbtest::ReplaceRows;

class ProjectLockTest : public BothEngines {
 protected:
  void SetUp() override {
    BothEngines::SetUp();
    if (IsSkipped()) return;
    db::CreateSchema(db_->connection());
  }
  // The project's rows as "Tank xCount" entries, sorted.
  std::vector<std::string> Rows(const std::string& project) {
    QSqlQuery q =
        testsupport::Exec(db_->database(), "SELECT Tank, count(*) FROM FromExcel WHERE Project = " +
                                               Literal(project) + " GROUP BY Tank ORDER BY Tank");
    std::vector<std::string> rows;
    while (q.next()) rows.push_back(Std(q.value(0).toString()) + " x" + Std(q.value(1).toString()));
    return rows;
  }
  // Waits until the PostgreSQL session `pid` waits for an advisory lock; on SQLite, gives
  // the other thread a moment to reach its wait. Neither is checked: the outcome is the
  // same in every order, only the order under test is the likely one.
  void LetTheSecondOneWait(int pid) {
    if (GetParam() == db::Engine::SQLite) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return;
    }
    for (int i = 0; i < 400; ++i) {
      const int waiting = Scalar(db_->database(),
                                 "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' "
                                 "AND NOT granted AND pid = " +
                                     std::to_string(pid))
                              .toInt();
      if (waiting > 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
};

// Two imports of one project at once, each on its own connection: the second waits for
// the first, then replaces the first one's rows. One set of rows remains.
TEST_P(ProjectLockTest, SecondImportOfTheProjectWaitsAndReplacesTheFirst) {
  ImportProject(db_->connection(), "TOrva_1", "earlier", 2);
  auto first = dbtest::Connect(*db_);
  std::optional<db::Transaction> firstRun;
  firstRun.emplace(*first, LockOf("TOrva_1"));
  ReplaceRows(*first, "TOrva_1", "first", 3);

  std::atomic<int> secondPid{-1};
  std::string secondError;
  std::thread second([&] {
    // A Qt connection belongs to the thread that made it.
    auto c = dbtest::Connect(*db_);
    secondPid = GetParam() == db::Engine::PostgreSQL
                    ? Scalar(c->Database(), "SELECT pg_backend_pid()").toInt()
                    : 0;
    try {
      ImportProject(*c, "TOrva_1", "second", 4);
    } catch (const EDatabaseError& e) {
      secondError = e.what();
    }
  });
  while (secondPid < 0) std::this_thread::yield();
  LetTheSecondOneWait(secondPid);
  firstRun->Commit();
  firstRun.reset();
  second.join();

  EXPECT_EQ(secondError, "");
  EXPECT_EQ(Rows("TOrva_1"), std::vector<std::string>{"second x4"});
}

// A project whose lock another session holds: the import waits for the busy timeout,
// then fails with a message that says why, and has changed nothing. The holder may be
// an import of this program or anything that takes the documented lock.
TEST_P(ProjectLockTest, LockHeldPastTheBusyTimeoutChangesNothing) {
  ImportProject(db_->connection(), "P", "earlier", 2);
  // Each holder takes the lock on its connection and answers how to release it.
  using Release = std::function<void()>;
  struct Holder {
    const char* name;
    std::function<Release(db::Connection&)> take;
  };
  const bool pg = GetParam() == db::Engine::PostgreSQL;
  const Holder holders[] = {
      {"an import in progress",
       [](db::Connection& c) {
         auto run = std::make_shared<db::Transaction>(c, LockOf("P"));
         ReplaceRows(c, "P", "holder", 1);
         return Release([run]() mutable { run.reset(); });  // rolls back
       }},
      {"another program taking the lock as documented",
       [pg](db::Connection& c) {
         if (pg) {
           testsupport::Exec(c.Database(), "BEGIN");
           testsupport::Exec(c.Database(),
                             "SELECT pg_advisory_xact_lock(hashtext('FromExcel'), hashtext('P'))");
         } else {
           testsupport::Exec(c.Database(), "BEGIN IMMEDIATE");
         }
         return Release([&c] { testsupport::Exec(c.Database(), "ROLLBACK"); });
       }},
  };
  for (const Holder& h : holders) {
    SCOPED_TRACE(h.name);
    auto holder = dbtest::Connect(*db_);
    Release release = h.take(*holder);
    auto waiter = dbtest::Connect(*db_, ";Busy Timeout=300");
    const std::string message = dbtest::ErrorOf([&] { ImportProject(*waiter, "P", "waiter", 5); });
    EXPECT_EQ(message.rfind(waiter->Describe() +
                                ": cannot start the import of project \"P\" into \"FromExcel\": ",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("gave up waiting after 300 ms (\"Busy Timeout\"); nothing was changed"),
              std::string::npos)
        << message;
    release();
    EXPECT_EQ(Rows("P"), std::vector<std::string>{"earlier x2"});
    // Once the holder has ended, the project can be imported again.
    ImportProject(*waiter, "P", "waiter", 5);
    EXPECT_EQ(Rows("P"), std::vector<std::string>{"waiter x5"});
    ImportProject(*waiter, "P", "earlier", 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, ProjectLockTest,
                         ::testing::Values(db::Engine::SQLite, db::Engine::PostgreSQL),
                         testsupport::EngineName);

// On a server, imports of different projects do not wait for each other: while one
// import holds its project, another project is imported at once, and a lock of a
// project in another table does not block either.
TEST(ProjectLock, OtherProjectsOnPostgresDoNotWait) {
  TANKLOAD_REQUIRE_PG();
  testsupport::TestDatabase database(db::Engine::PostgreSQL);
  db::CreateSchema(database.connection());
  auto first = dbtest::Connect(database);
  db::Transaction running(*first, LockOf("P1"));
  ReplaceRows(*first, "P1", "first", 2);
  auto third = dbtest::Connect(database);
  db::Transaction otherTable(*third, db::ProjectLock{"Stability_Elements", "P2"});

  auto second = dbtest::Connect(database, ";Busy Timeout=1000");
  ImportProject(*second, "P2", "second", 3);
  EXPECT_EQ(
      Scalar(database.database(), "SELECT count(*) FROM FromExcel WHERE Project = 'P2'").toInt(),
      3);
}

}  // namespace
