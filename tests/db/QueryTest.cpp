// Statements through the query: rows affected, refused statements, text literals,
// locks held by another connection, and the transaction guard.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "db/Database.h"
#include "tests/db/DbTestSupport.h"

namespace {

using testsupport::BothEngines;
using testsupport::Scalar;
using testsupport::Std;

using dbtest::InsertText;
using dbtest::Literal;

int Exec(db::Connection& connection, const std::string& sql) {
  return dbtest::ExecQuery(connection, sql);
}

class QueryTest : public BothEngines {
 protected:
  void SetUp() override {
    BothEngines::SetUp();
    if (IsSkipped()) return;
    db::CreateSchema(db_->connection());
  }
  long long Count(const std::string& where = "1 = 1") {
    return Scalar(db_->database(), "SELECT count(*) FROM FromExcel WHERE " + where).toLongLong();
  }
};

TEST_P(QueryTest, ReportsRowsAffected) {
  db::Query query(db_->connection());
  struct Case {
    const char* name;
    std::string sql;
    int expected;
  };
  const Case cases[] = {
      {"insert", InsertText("T1", "TOrva_1"), 1},
      {"second insert", InsertText("T2", "TOrva_1"), 1},
      {"other project", InsertText("T3", "Other"), 1},
      {"insert of two rows",
       "Insert Into FromExcel (Tank, Project) Select Tank, 'Copy' From FromExcel Where Project = "
       "'TOrva_1'",
       2},
      {"update", "Update FromExcel Set Volume = 1 Where Project = 'Copy'", 2},
      {"delete of the project", "Delete From FromExcel  Where Project = 'TOrva_1'", 2},
      {"delete again", "Delete From FromExcel  Where Project = 'TOrva_1'", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    query.SetSQL(c.sql);
    EXPECT_EQ(query.SQL(), c.sql);
    EXPECT_EQ(query.ExecSQL(), c.expected);
    EXPECT_FALSE(query.Active());
  }
  EXPECT_EQ(Count(), 3);
}

TEST_P(QueryTest, RefusedStatementNamesTheCauseAndTheStatement) {
  db::Query query(db_->connection());
  query.SetSQL("Insert Into Nowhere \r\n(Tank) \nValues \r\n('x')");
  try {
    query.ExecSQL();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind(db_->connection().Describe() + ": ", 0), 0u) << message;
    EXPECT_NE(
        message.find(GetParam() == db::Engine::SQLite ? "no such table: Nowhere"
                                                      : "relation \"nowhere\" does not exist"),
        std::string::npos)
        << message;
    EXPECT_NE(message.find("(statement: Insert Into Nowhere (Tank) Values ('x'))"),
              std::string::npos)
        << message;
  }
  // A long statement is cut; the query stays usable after a refusal.
  query.SetSQL("Select " + std::string(400, 'x') + " From Nowhere");
  try {
    query.ExecSQL();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("xxx...)"), std::string::npos) << message;
    EXPECT_LT(message.size(), 400u) << message;
  }
  query.SetSQL(InsertText("T1", "P"));
  EXPECT_EQ(query.ExecSQL(), 1);
}

// Besides the composed message, a refusal carries the engine's own code and text: SQLite's
// extended result code, PostgreSQL's SQLSTATE.
TEST_P(QueryTest, RefusalCarriesTheEngineCodeAndText) {
  const bool sqlite = GetParam() == db::Engine::SQLite;
  struct Case {
    const char* name;
    std::string sql;
    std::string code;
    std::string text;
  };
  const Case cases[] = {
      {"unknown table", "Insert Into Nowhere (Tank) Values ('x')", sqlite ? "1" : "42P01",
       sqlite ? "no such table: Nowhere" : "relation \"nowhere\" does not exist"},
      {"key taken", "Insert Into FromExcel (ID, Tank) Values (1, 'again')",
       sqlite ? "1555" : "23505",  // SQLITE_CONSTRAINT_PRIMARYKEY; unique_violation
       sqlite ? "UNIQUE constraint failed: FromExcel.ID" : "duplicate key value"},
      {"syntax", "Insert Into", sqlite ? "1" : "42601",
       sqlite ? "incomplete input" : "syntax error"},
  };
  Exec(db_->connection(), "Insert Into FromExcel (ID, Tank) Values (1, 'first')");
  db::Query query(db_->connection());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    query.SetSQL(c.sql);
    try {
      query.ExecSQL();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.EngineCode(), c.code);
      EXPECT_EQ(e.EngineMessage().rfind(c.text, 0), 0u) << e.EngineMessage();
      EXPECT_NE(std::string(e.what()).find(e.EngineMessage()), std::string::npos) << e.what();
    }
  }
  // Errors that the program finds itself carry no engine code.
  db_->connection().Close();
  query.SetSQL(InsertText("T", "P"));
  try {
    query.ExecSQL();
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.EngineCode(), "");
    EXPECT_EQ(e.EngineMessage(), "");
  }
}

// SQLite reports the changes of the last statement that changed rows; a statement that
// changes none must not repeat the count of the insert before it.
TEST_P(QueryTest, StatementsThatChangeNoRowsReportZero) {
  if (GetParam() != db::Engine::SQLite) GTEST_SKIP() << "counts of SQLite statements";
  db::Query query(db_->connection());
  query.SetSQL(InsertText("T1", "P"));
  ASSERT_EQ(query.ExecSQL(), 1);
  const char* const statements[] = {
      "Select count(*) From FromExcel",
      "Create Table Scratch (x integer)",
      "Delete From FromExcel  Where Project = 'none'",
  };
  for (const char* sql : statements) {
    SCOPED_TRACE(sql);
    query.SetSQL(sql);
    EXPECT_EQ(query.ExecSQL(), 0);
  }
}

// One text is one statement: a second statement after the first is refused, and nothing
// of the text is written.
TEST_P(QueryTest, TextWithTwoStatementsIsRefusedWhole) {
  if (GetParam() != db::Engine::SQLite) GTEST_SKIP() << "SQLite runs one statement per text";
  db::Query query(db_->connection());
  query.SetSQL(InsertText("T1", "P") + "; " + InsertText("T2", "P"));
  EXPECT_THROW(query.ExecSQL(), EDatabaseError);
  EXPECT_EQ(Count(), 0);
  query.SetSQL(InsertText("T3", "P"));
  EXPECT_EQ(query.ExecSQL(), 1);
}

// What a data line renders is stored byte for byte: the literal doubles quotes and
// escapes nothing else, and both engines read backslashes literally.
TEST_P(QueryTest, TextLiteralsAreStoredExactly) {
  const std::string texts[] = {
      "O'Brien",
      "''",
      "'",
      "C:\\Data\\new\\table",
      "\\'",
      "ends with \\",
      "Цистерна № 5, ёЁ",
      "tab\tinside",
      "two\r\nlines",
      "bell\x07 and \x1f unit separator",
      "% and _ and ; and \"quotes\"",
      "--not a comment",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Exec(db_->connection(), InsertText(text, "Texts")), 1);
    const QVariant stored = Scalar(db_->database(),
                                   "SELECT Tank FROM FromExcel WHERE Project = 'Texts' "
                                   "ORDER BY ID DESC LIMIT 1");
    EXPECT_EQ(Std(stored.toString()), text);
  }
}

TEST_P(QueryTest, NullsAndNumbersFromLiterals) {
  EXPECT_EQ(Exec(db_->connection(),
                 "Insert Into FromExcel \r\n(Tank ,Volume ,LPP ,Variant ,Project) \nValues \r\n"
                 "(NULL ,-0.1250000 ,142 ,45444 ,'N')"),
            1);
  const QVariant tank = Scalar(db_->database(), "SELECT Tank FROM FromExcel");
  EXPECT_TRUE(tank.isNull());
  EXPECT_EQ(Scalar(db_->database(), "SELECT Volume FROM FromExcel").toDouble(), -0.125);
  EXPECT_EQ(Scalar(db_->database(), "SELECT LPP FROM FromExcel").toInt(), 142);
  EXPECT_EQ(Scalar(db_->database(), "SELECT Variant FROM FromExcel").toInt(), 45444);
}

TEST_P(QueryTest, ClosedConnectionIsAnError) {
  db::Query query(db_->connection());
  query.SetSQL(InsertText("T", "P"));
  db_->connection().Close();
  try {
    query.ExecSQL();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), db_->connection().Describe() + ": the connection is not open");
  }
  db_->Reopen();
}

TEST_P(QueryTest, TransactionGuard) {
  db::Connection& connection = db_->connection();
  {
    db::Transaction transaction(connection);
    Exec(connection, InsertText("rolled back", "G"));
  }
  EXPECT_EQ(Count("Project = 'G'"), 0);
  {
    db::Transaction transaction(connection);
    Exec(connection, InsertText("kept", "G"));
    transaction.Commit();
    transaction.Commit();  // once committed, nothing more to do
  }
  EXPECT_EQ(Count("Project = 'G'"), 1);
  // An error inside the guarded block rolls back what the block wrote.
  try {
    db::Transaction transaction(connection);
    Exec(connection, InsertText("half", "G"));
    Exec(connection, "Insert Into Nowhere (x) Values (1)");
    transaction.Commit();
  } catch (const EDatabaseError&) {
  }
  EXPECT_EQ(Count("Project = 'G'"), 1);
  // The guard outliving the open connection neither throws nor crashes.
  {
    db::Transaction transaction(connection);
    connection.Close();
  }
  db_->Reopen();
  EXPECT_EQ(Count("Project = 'G'"), 1);
}

// Another connection holding a write lock: the statement waits for the busy timeout,
// then fails with a message that names the database; readers are not blocked.
TEST_P(QueryTest, LockHeldByAnotherConnection) {
  db::Connection holder(db_->ConnectionString());
  db::Connection waiter(db_->ConnectionString() + ";Busy Timeout=300");
  holder.Open();
  waiter.Open();
  if (GetParam() == db::Engine::PostgreSQL) {
    for (db::Connection* c : {&holder, &waiter}) {
      testsupport::Exec(c->Database(), "SET search_path TO " + db_->schema());
    }
  }
  {
    db::Transaction transaction(holder);
    if (GetParam() == db::Engine::PostgreSQL) {
      Exec(holder, "LOCK TABLE FromExcel IN EXCLUSIVE MODE");
    }
    Exec(holder, InsertText("holder", "L"));
    const auto start = std::chrono::steady_clock::now();
    try {
      Exec(waiter, InsertText("waiter", "L"));
      FAIL() << "no error";
    } catch (const EDatabaseError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(waiter.Describe() + ": ", 0), 0u) << message;
      EXPECT_NE(
          message.find(GetParam() == db::Engine::SQLite ? "database is locked" : "lock timeout"),
          std::string::npos)
          << message;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    if (GetParam() == db::Engine::SQLite) {
      // Write-ahead logging lets the reader see the last committed state meanwhile.
      EXPECT_EQ(Scalar(waiter.Database(), "SELECT count(*) FROM FromExcel").toInt(), 0);
    }
    transaction.Commit();
  }
  EXPECT_EQ(Exec(waiter, InsertText("waiter", "L")), 1);
  EXPECT_EQ(Count("Project = 'L'"), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, QueryTest,
                         ::testing::Values(db::Engine::SQLite, db::Engine::PostgreSQL),
                         testsupport::EngineName);

}  // namespace
