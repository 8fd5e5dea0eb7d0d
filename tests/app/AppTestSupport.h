#pragma once
// Helpers of the import application's tests: a temporary directory per test, a database
// with the import tables on either engine, a recording import host, summary lines built
// from cells, and readers of what the database holds.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "app/ImportRuns.h"
#include "db/Database.h"

namespace apptest {

// The one application object of the test program (widgets need it; Qt SQL likes it).
inline void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);
  (void)application;
}

class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tankload-app-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // With a trailing "/".
  std::string Dir() const { return path_.string() + "/"; }

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

inline std::string PgConnectionString() {
  const char* v = std::getenv("TANKLOAD_TEST_PG");
  return v ? v : "";
}

inline std::string Std(const QString& s) { return s.toUtf8().toStdString(); }

inline QSqlQuery Exec(const QSqlDatabase& db, const std::string& sql) {
  QSqlQuery q(db);
  if (!q.exec(QString::fromStdString(sql))) {
    ADD_FAILURE() << sql << ": " << Std(q.lastError().text());
  }
  return q;
}

// The first column of each row, as text ("<null>" for NULL).
inline std::vector<std::string> Column(const QSqlDatabase& db, const std::string& sql) {
  QSqlQuery q = Exec(db, sql);
  std::vector<std::string> out;
  while (q.next()) out.push_back(q.value(0).isNull() ? "<null>" : Std(q.value(0).toString()));
  return out;
}

inline long long Count(const QSqlDatabase& db, const std::string& sql) {
  QSqlQuery q = Exec(db, sql);
  return q.next() ? q.value(0).toLongLong() : -1;
}

// A database with the import tables: a new SQLite file, or a schema of its own on the
// PostgreSQL test server (first on this connection's search path), dropped at the end.
class TestDatabase {
 public:
  TestDatabase(db::Engine engine, const TempDir& dir) : engine_(engine) {
    EnsureApplication();
    if (engine == db::Engine::SQLite) {
      connectionString_ = SqliteString(dir.File("dunvik.mdb"));
      connection_ = std::make_unique<db::Connection>(connectionString_);
      connection_->Open(true);
    } else {
      connectionString_ = PgConnectionString();
      connection_ = std::make_unique<db::Connection>(connectionString_);
      connection_->Open();
      static int counter = 0;
      schema_ = "app_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
      Exec(connection_->Database(), "CREATE SCHEMA " + schema_);
      Exec(connection_->Database(), "SET search_path TO " + schema_);
    }
    db::CreateSchema(*connection_);
  }
  ~TestDatabase() {
    if (!schema_.empty() && connection_->Connected()) {
      QSqlQuery q(connection_->Database());
      q.exec("SET client_min_messages TO warning");
      q.exec(QString::fromStdString("DROP SCHEMA " + schema_ + " CASCADE"));
    }
  }
  db::Connection& connection() { return *connection_; }
  QSqlDatabase database() const { return connection_->Database(); }
  db::Engine engine() const { return engine_; }
  const std::string& connectionString() const { return connectionString_; }

  // Makes the database refuse every row of FromExcel whose Designation is `value`.
  void RefuseDesignation(const std::string& value) {
    if (engine_ == db::Engine::SQLite) {
      Exec(database(),
           "CREATE TRIGGER refuse_row BEFORE INSERT ON FromExcel WHEN "
           "NEW.Designation = '" +
               value + "' BEGIN SELECT RAISE(ABORT, 'row refused by the test'); END");
    } else {
      Exec(database(), "ALTER TABLE FromExcel ADD CONSTRAINT refuse_row CHECK (Designation <> '" +
                           value + "')");
    }
  }

 private:
  db::Engine engine_;
  std::string connectionString_;
  std::string schema_;
  std::unique_ptr<db::Connection> connection_;
};

// Records what a run tells its host; the clock hands out the times given, the last one
// repeatedly.
class RecordingHost : public app::ImportHost {
 public:
  std::vector<std::string> log;
  std::vector<std::string> messages;
  std::string programDirectory;
  std::optional<std::string> choice;  // the file the chooser returns; none = cancel
  std::vector<std::string> chooserPaths;
  std::vector<std::string> chooserFilters;
  std::deque<TDateTime> times;
  std::vector<std::pair<int, int>> progress;

  void ClearLog() override { log.clear(); }
  void Log(const std::string& text) override { log.push_back(text); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool SelectFile(std::string& path, const std::string& filter) override {
    chooserPaths.push_back(path);
    chooserFilters.push_back(filter);
    if (!choice) return false;
    path = *choice;
    return true;
  }
  void Progress(int done, int total) override { progress.emplace_back(done, total); }
  std::string ProgramDirectory() const override { return programDirectory; }
  TDateTime Now() override {
    if (times.empty()) return ImportHost::Now();
    TDateTime t = times.front();
    if (times.size() > 1) times.pop_front();
    return t;
  }
};

// A summary line from its cells (cell 1 first).
inline std::string Line(const std::vector<std::string>& cells) {
  std::string out;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i) out += '\t';
    out += cells[i];
  }
  return out;
}

// A data line: designation, frames, board, deck, then volume and the other figures.
inline std::string DataLine(const std::string& designation, const std::string& volume = "10,5") {
  return Line({designation, "",     "12-18",  "ЛБ",   "2",   volume, "3,25",
               "10,1",      "0,85", "1,02",   "0,3",  "0,4", "8,2",  "-18,25",
               "-3,1",      "0,72", "-707,4", "27,9", "",    "12",   "3"});
}

inline std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

inline std::string SourceFile(const std::string& relative) {
  return std::string(TANKLOAD_SOURCE_DIR) + "/" + relative;
}

}  // namespace apptest
