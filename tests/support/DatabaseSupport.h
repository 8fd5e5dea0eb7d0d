#pragma once
// What the database and application tests share: a database of either engine (a new
// SQLite file, or a schema of its own on the PostgreSQL test server), statements run
// directly through Qt, and the engines as named parameters. Only for test programs that
// link db.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <ostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "db/Database.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

inline std::string SqliteString(const std::string& path) {
  return "Provider=SQLite;Data Source=" + path;
}

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

// The first column of each row, as text ("<null>" for NULL).
inline std::vector<std::string> Column(const QSqlDatabase& db, const std::string& sql) {
  QSqlQuery q = Exec(db, sql);
  std::vector<std::string> out;
  while (q.next()) out.push_back(q.value(0).isNull() ? "<null>" : Std(q.value(0).toString()));
  return out;
}

// The first column of the first row as a number, or -1 when there is no row.
inline long long Count(const QSqlDatabase& db, const std::string& sql) {
  QSqlQuery q = Exec(db, sql);
  return q.next() ? q.value(0).toLongLong() : -1;
}

// A database to test against: a new SQLite file, or a new schema (first on the search path
// of this connection) on the PostgreSQL test server, dropped at the end. The SQLite file is
// `sqliteFile`, or "test.db" in a temporary directory of the object's own.
class TestDatabase {
 public:
  explicit TestDatabase(db::Engine engine, std::string sqliteFile = {},
                        std::string_view schemaPrefix = "t")
      : engine_(engine), sqliteFile_(std::move(sqliteFile)) {
    if (engine == db::Engine::SQLite) {
      if (sqliteFile_.empty()) {
        ownDir_.emplace("db");
        sqliteFile_ = ownDir_->File("test.db");
      }
      connection_ = std::make_unique<db::Connection>(ConnectionString());
      connection_->Open(true);
    } else {
      connection_ = std::make_unique<db::Connection>(ConnectionString());
      connection_->Open();
      static int counter = 0;
      schema_ = std::string(schemaPrefix) + "_" + std::to_string(::getpid()) + "_" +
                std::to_string(++counter);
      Exec(database(), "SET client_min_messages TO warning");  // no NOTICE lines
      Exec(database(), "CREATE SCHEMA " + schema_);
      Exec(database(), "SET search_path TO " + schema_);
    }
  }
  ~TestDatabase() {
    if (!schema_.empty() && connection_->Connected()) {
      QSqlQuery q(connection_->Database());
      q.exec("SET client_min_messages TO warning");
      q.exec(QString::fromStdString("DROP SCHEMA " + schema_ + " CASCADE"));
    }
  }
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  db::Connection& connection() { return *connection_; }
  QSqlDatabase database() const { return connection_->Database(); }
  db::Engine engine() const { return engine_; }
  // The directory of the SQLite file when the object made it (only then).
  const TempDir& dir() const { return *ownDir_; }
  const std::string& schema() const { return schema_; }
  // A connection string to the same database (PostgreSQL needs the schema set again after
  // opening).
  std::string ConnectionString() const {
    return engine_ == db::Engine::SQLite ? SqliteString(sqliteFile_) : PgConnectionString();
  }
  // Opens the connection again after a Close (a new PostgreSQL session needs its schema).
  void Reopen() {
    connection_->Open();
    if (!schema_.empty()) Exec(database(), "SET search_path TO " + schema_);
  }

 private:
  db::Engine engine_;
  std::optional<TempDir> ownDir_;
  std::string sqliteFile_;
  std::string schema_;
  std::unique_ptr<db::Connection> connection_;
};

inline const char* EngineText(db::Engine engine) {
  switch (engine) {
    case db::Engine::SQLite:
      return "SQLite";
    case db::Engine::PostgreSQL:
      return "PostgreSQL";
    case db::Engine::ODBC:
      return "ODBC";
  }
  return "unknown";
}

// Name generator for suites parameterised over the engines: "SQLite", "PostgreSQL".
inline std::string EngineName(const ::testing::TestParamInfo<db::Engine>& info) {
  return EngineText(info.param);
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

}  // namespace testsupport

namespace db {

// How GoogleTest shows an engine in its output ("GetParam() = SQLite"), found by
// argument-dependent lookup.
inline void PrintTo(Engine engine, std::ostream* os) { *os << testsupport::EngineText(engine); }

}  // namespace db
