#pragma once
// Helpers of the database tests: a temporary directory per test, a database of either
// engine (a new SQLite file, or a schema of its own on the PostgreSQL test server), and
// small readers of what the database holds.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "db/Database.h"
#include "tests/support/TestSupport.h"

namespace dbtest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tankload-db-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string SqliteString(const std::string& path) {
  return "Provider=SQLite;Data Source=" + path;
}

// The PostgreSQL test server's connection string, or empty.
inline std::string PgConnectionString() {
  const char* v = std::getenv("TANKLOAD_TEST_PG");
  return v ? v : "";
}

// TANKLOAD_REQUIRE_PG() comes from the shared test support.

inline std::string Std(const QString& s) { return s.toUtf8().toStdString(); }

// Runs one statement directly through Qt; fails the test when the database refuses it.
inline QSqlQuery Exec(const QSqlDatabase& db, const std::string& sql) {
  QSqlQuery q(db);
  if (!q.exec(QString::fromStdString(sql))) {
    ADD_FAILURE() << sql << ": " << Std(q.lastError().text());
  }
  return q;
}

// The first column of the first row, or an invalid QVariant.
inline QVariant Scalar(const QSqlDatabase& db, const std::string& sql) {
  QSqlQuery q = Exec(db, sql);
  return q.next() ? q.value(0) : QVariant();
}

// A database to test against: a new SQLite file, or a new schema (first on the search
// path of this connection) on the PostgreSQL test server, dropped at the end.
class TestDatabase {
 public:
  explicit TestDatabase(db::Engine engine) : engine_(engine) {
    if (engine == db::Engine::SQLite) {
      connection_ = std::make_unique<db::Connection>(SqliteString(dir_.File("test.db")));
      connection_->Open(true);
    } else {
      connection_ = std::make_unique<db::Connection>(PgConnectionString());
      connection_->Open();
      static int counter = 0;
      schema_ = "t_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
      Exec(connection_->Database(), "SET client_min_messages TO warning");  // no NOTICE lines
      Exec(connection_->Database(), "CREATE SCHEMA " + schema_);
      Exec(connection_->Database(), "SET search_path TO " + schema_);
    }
  }
  ~TestDatabase() {
    if (!schema_.empty() && connection_->Connected()) {
      QSqlQuery q(connection_->Database());
      q.exec(QString::fromStdString("DROP SCHEMA " + schema_ + " CASCADE"));
    }
  }
  db::Connection& connection() { return *connection_; }
  // Opens the connection again after a Close (a new PostgreSQL session needs its schema).
  void Reopen() {
    connection_->Open();
    if (!schema_.empty()) Exec(connection_->Database(), "SET search_path TO " + schema_);
  }
  QSqlDatabase database() const { return connection_->Database(); }
  db::Engine engine() const { return engine_; }
  const TempDir& dir() const { return dir_; }
  // A second connection string to the same database (the SQLite file; PostgreSQL needs
  // the schema set again after opening).
  std::string ConnectionString() const {
    return engine_ == db::Engine::SQLite ? SqliteString(dir_.File("test.db"))
                                         : PgConnectionString();
  }
  const std::string& schema() const { return schema_; }
  // A further open connection to the same database (in the test's schema), with
  // `extra` pairs appended to the connection string ("" or ";Name=Value...").
  std::unique_ptr<db::Connection> Connect(const std::string& extra = "") const {
    auto c = std::make_unique<db::Connection>(ConnectionString() + extra);
    c->Open();
    if (!schema_.empty()) Exec(c->Database(), "SET search_path TO " + schema_);
    return c;
  }

 private:
  db::Engine engine_;
  TempDir dir_;
  std::string schema_;
  std::unique_ptr<db::Connection> connection_;
};

// A text as a literal of the import's statements: quotes doubled, nothing else escaped.
inline std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  return out + "'";
}

// An INSERT in the layout of the generated statements.
inline std::string InsertText(const std::string& tank, const std::string& project) {
  return "Insert Into FromExcel \r\n(Tank ,Volume ,Project) \nValues \r\n(" + Literal(tank) +
         " ,12.5000000 ," + Literal(project) + ")";
}

// Runs one statement through the query of the database layer; the rows it changed.
inline int ExecQuery(db::Connection& connection, const std::string& sql) {
  db::Query query(connection);
  query.SetSQL(sql);
  return query.ExecSQL();
}

inline db::ProjectLock LockOf(const std::string& project) { return {"FromExcel", project}; }

// What the run by SQL statements does to the table: the project's rows replaced by
// `rows` new ones whose Tank is `mark`; ImportProject does it under the project's lock.
inline void ReplaceRows(db::Connection& c, const std::string& project, const std::string& mark,
                        int rows) {
  ExecQuery(c, "Delete From FromExcel  Where Project = " + Literal(project));
  for (int i = 0; i < rows; ++i) ExecQuery(c, InsertText(mark, project));
}

inline void ImportProject(db::Connection& c, const std::string& project, const std::string& mark,
                          int rows) {
  db::Transaction transaction(c, LockOf(project));
  ReplaceRows(c, project, mark, rows);
  transaction.Commit();
}

// Parameterised over both engines; the PostgreSQL cases skip without a server.
class BothEngines : public ::testing::TestWithParam<db::Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == db::Engine::PostgreSQL) TANKLOAD_REQUIRE_PG();
    db_ = std::make_unique<TestDatabase>(GetParam());
  }
  void TearDown() override { db_.reset(); }
  std::unique_ptr<TestDatabase> db_;
};

inline std::string EngineName(const ::testing::TestParamInfo<db::Engine>& info) {
  return info.param == db::Engine::SQLite ? "SQLite" : "PostgreSQL";
}

// The message of the database error that `action` raises, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace dbtest
