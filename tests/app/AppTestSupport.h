#pragma once
// Helpers of the import application's tests: a database with the import tables on either
// engine, a recording import host, summary lines built from cells; the temporary
// directory, files and database readers come from the shared test support.

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>

#include "app/ImportRuns.h"
#include "db/Database.h"
#include "tests/support/DatabaseSupport.h"
#include "tests/support/TestSupport.h"

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

using testsupport::Column;
using testsupport::Count;
using testsupport::EngineName;
using testsupport::Exec;
using testsupport::ReadFile;
using testsupport::SourcePath;
using testsupport::SqliteString;
using testsupport::Std;
using testsupport::TempDir;
using testsupport::WriteFile;

// A database with the import tables: a new SQLite file in `dir`, or a schema of its own on
// the PostgreSQL test server (first on this connection's search path), dropped at the end.
class TestDatabase : public testsupport::TestDatabase {
 public:
  TestDatabase(db::Engine engine, const TempDir& dir)
      : testsupport::TestDatabase(AfterApplication(engine), dir.File("dunvik.mdb"), "app") {
    db::CreateSchema(connection());
  }

  // Makes the database refuse every row of FromExcel whose Designation is `value`.
  void RefuseDesignation(const std::string& value) {
    if (engine() == db::Engine::SQLite) {
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
  // The application object exists before the base class opens the connection.
  static db::Engine AfterApplication(db::Engine engine) {
    EnsureApplication();
    return engine;
  }
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

}  // namespace apptest
