// A database that another program made is left as it is: opening, reading and a failed
// import leave its file byte for byte unchanged and keep its journal; a read-only
// connection works where nothing may be written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "db/Database.h"
#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::ErrorOf;
using testsupport::ReadFile;
using testsupport::Scalar;
using testsupport::SqliteString;
using testsupport::TempDir;

// The import table as another program would make it with the sqlite3 shell (rollback
// journal, the shell's defaults), with rows of two projects, a CHECK and a trigger that
// refuse certain rows.
constexpr const char* kShellScript =
    "CREATE TABLE FromExcel (ID integer PRIMARY KEY, Tank text CHECK (Tank <> 'refused'), "
    "Volume double, Project text);\n"
    "CREATE TRIGGER NoTriggered BEFORE INSERT ON FromExcel WHEN NEW.Tank = 'triggered' "
    "BEGIN SELECT RAISE(ABORT, 'triggered rows are refused'); END;\n"
    "INSERT INTO FromExcel (Tank, Volume, Project) VALUES ('T1', 1.5, 'P'), ('T2', 2.5, 'P'), "
    "('Other', 3, 'Q');\n";

bool HaveSqliteShell() { return std::system("sqlite3 -version >/dev/null 2>&1") == 0; }

void MakeWithShell(const std::string& path) {
  FILE* shell = ::popen(("sqlite3 '" + path + "'").c_str(), "w");
  ASSERT_NE(shell, nullptr);
  std::fputs(kShellScript, shell);
  ASSERT_EQ(::pclose(shell), 0);
}

// The files SQLite keeps beside a database while it writes.
void ExpectNoFilesBeside(const std::string& path) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    EXPECT_FALSE(std::filesystem::exists(path + suffix)) << path + suffix;
  }
}

class ForeignDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveSqliteShell()) GTEST_SKIP() << "the sqlite3 shell is not installed";
    path_ = dir_.File("theirs.db");
    MakeWithShell(path_);
  }
  TempDir dir_;
  std::string path_;
};

// Each use that must not change the file: it runs on a connection of its own, which is
// closed before the file is compared with its earlier bytes.
TEST_F(ForeignDatabase, OpeningReadingAndFailedImportsLeaveTheFileAsItWas) {
  struct Case {
    const char* name;
    bool readOnly;
    std::function<void(db::Connection&)> use;
  };
  auto readAll = [](db::Connection& c) {
    EXPECT_EQ(Scalar(c.Database(), "SELECT count(*) FROM FromExcel").toInt(), 3);
    db::Table table(c);
    table.SetTableName("FromExcel");
    table.Open();
    EXPECT_NE(table.FindField("Tank"), nullptr);
    table.Close();
  };
  // The run by SQL statements, refused at its last row: its transaction is rolled back.
  auto failedImport = [](const std::string& refusedTank) {
    return [refusedTank](db::Connection& c) {
      const std::string message = ErrorOf([&] {
        db::Transaction transaction(c, dbtest::LockOf("P"));
        dbtest::ReplaceRows(c, "P", "new", 50);
        dbtest::ExecQuery(c, dbtest::InsertText(refusedTank, "P"));
        transaction.Commit();
      });
      EXPECT_NE(message, "(no error)");
    };
  };
  const Case cases[] = {
      {"read-only connection reading", true, readAll},
      {"connection for writing, only reading", false, readAll},
      {"import refused by a CHECK constraint", false, failedImport("refused")},
      {"import refused by a trigger", false, failedImport("triggered")},
      {"write refused on a read-only connection", true,
       [](db::Connection& c) {
         const std::string message =
             ErrorOf([&] { dbtest::ExecQuery(c, dbtest::InsertText("T", "P")); });
         EXPECT_NE(message.find("readonly database"), std::string::npos) << message;
       }},
  };
  const std::string before = ReadFile(path_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      db::Connection connection(SqliteString(path_));
      if (c.readOnly) {
        connection.OpenReadOnly();
      } else {
        connection.Open();
      }
      EXPECT_EQ(connection.ReadOnly(), c.readOnly);
      // The file keeps its journal, synchronised at every commit.
      EXPECT_EQ(Scalar(connection.Database(), "PRAGMA journal_mode").toString().toStdString(),
                "delete");
      EXPECT_EQ(Scalar(connection.Database(), "PRAGMA synchronous").toInt(), 2);
      c.use(connection);
    }
    EXPECT_TRUE(ReadFile(path_) == before) << "the database file was changed";
    ExpectNoFilesBeside(path_);
  }
}

// A database in a directory where nothing may be created (nor the journal, nor the
// log): a read-only connection opens and reads it. The directory's permission cannot
// stop root; then only the read-only opening itself is shown.
TEST_F(ForeignDatabase, ReadOnlyConnectionInAReadOnlyDirectory) {
  const std::string before = ReadFile(path_);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  struct RestoreMode {
    std::string dir;
    ~RestoreMode() { ::chmod(dir.c_str(), 0755); }
  } restore{dir_.path().string()};
  if (::geteuid() != 0) {
    // The directory refuses new files, as the journal of a write would need.
    EXPECT_NE(::access(dir_.path().c_str(), W_OK), 0);
  }
  {
    db::Connection connection(SqliteString(path_));
    connection.OpenReadOnly();
    EXPECT_EQ(Scalar(connection.Database(), "SELECT group_concat(Tank) FROM FromExcel").toString(),
              "T1,T2,Other");
  }
  EXPECT_TRUE(ReadFile(path_) == before) << "the database file was changed";
  ExpectNoFilesBeside(path_);
}

// A database made by this program uses write-ahead logging and keeps it when opened
// again; opening it read-only works as well.
TEST(OwnDatabase, KeepsWriteAheadLogging) {
  TempDir dir;
  const std::string path = dir.File("ours.db");
  db::Connection(SqliteString(path)).Open(true);
  for (const bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "for writing");
    db::Connection connection(SqliteString(path));
    if (readOnly) {
      connection.OpenReadOnly();
    } else {
      connection.Open();
    }
    EXPECT_EQ(Scalar(connection.Database(), "PRAGMA journal_mode").toString().toStdString(), "wal");
    EXPECT_EQ(Scalar(connection.Database(), "PRAGMA synchronous").toInt(), 1);  // NORMAL
  }
}

// A read-only session on the server refuses to write.
TEST(ReadOnlyConnection, PostgresSessionRefusesWrites) {
  TANKLOAD_REQUIRE_PG();
  testsupport::TestDatabase database(db::Engine::PostgreSQL);
  db::CreateSchema(database.connection());
  db::Connection connection(testsupport::PgConnectionString());
  connection.OpenReadOnly();
  testsupport::Exec(connection.Database(), "SET search_path TO " + database.schema());
  EXPECT_EQ(Scalar(connection.Database(), "SELECT count(*) FROM FromExcel").toInt(), 0);
  const std::string message =
      ErrorOf([&] { dbtest::ExecQuery(connection, dbtest::InsertText("T", "P")); });
  EXPECT_NE(message.find("read-only transaction"), std::string::npos) << message;
}

}  // namespace
