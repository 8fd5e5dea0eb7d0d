#pragma once
// The two import runs: a summary file (a tab-separated text file, or a workbook sheet
// saved as one) read line by line into the import record and added to the table
// "FromExcel", either by generated SQL statements or through the table dataset. The
// runs touch no widgets: the window, the command line and the tests each implement
// ImportHost.

#include <string>

#include "app/ImportLayout.h"
#include "platform/StringList.h"
#include "platform/Variant.h"

namespace db {
class Connection;
class Query;
class Table;
}  // namespace db

namespace app {

// What a run needs from whoever started it.
class ImportHost {
 public:
  virtual ~ImportHost() = default;
  // The log pane: ClearLog empties it; Log appends one entry, which may span several
  // lines separated by "\n" (a trailing "\n" shows as an empty line).
  virtual void ClearLog() = 0;
  virtual void Log(const std::string& text) = 0;
  // A modal message with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // The file chooser: `path` in is the start (directory and name), out the file chosen.
  // `filter` is "description|pattern|..." pairs. False when the user cancelled.
  virtual bool SelectFile(std::string& path, const std::string& filter) = 0;
  // Lines done of lines loaded; called every few thousand lines and at the end of the
  // loop. The window repaints here.
  virtual void Progress(int done, int total) {
    (void)done;
    (void)total;
  }
  // The program's directory, with a trailing "/".
  virtual std::string ProgramDirectory() const = 0;
  // The local date and time.
  virtual TDateTime Now();
};

// The window's members that a run works with.
struct ImportTarget {
  db::Connection& connection;  // the database
  db::Query& query;            // runs the generated statements
  db::Table& table;            // shown in the grid; target of the table run
  TStringList& fileLines;      // the lines of the file; empty between runs
  std::string& lastXlsFile;    // the last workbook chosen, or the default pattern
  // Text source instead of "svod.txt" in the program's directory (empty: that file).
  std::string textFile;
  // Sheet of the workbook to import (empty: the first one).
  std::string sheetName;
  // The project and LPP the rows carry; the SQL run replaces that project's rows.
  ProjectValues values;
};

// How a run ended; an error ends it with an exception instead.
enum class RunEnd {
  Completed,    // the summary was written
  FileMissing,  // the text file does not exist; the message was shown
  Cancelled,    // the file chooser was cancelled
  NoText,       // the workbook could not be saved as text; the bridge told the user
};

// The table name, the filter of the file chooser and the note added to the message of a
// failed SQL run.
inline constexpr const char* kImportTable = "FromExcel";
inline constexpr const char* kWorkbookFilter = "*.xls|*.xls";
inline constexpr const char* kRolledBackNote =
    "\nИзменения отменены: база данных осталась в прежнем состоянии.";

// Deletes the project's earlier rows, then inserts one statement per data line, all in
// one transaction: a failure rolls everything back and raises with kRolledBackNote.
RunEnd ImportBySQL(ImportHost& host, ImportTarget& target, bool fromText);
// Adds one table row per data line; rows posted before a failure stay.
RunEnd ImportThroughTable(ImportHost& host, ImportTarget& target, bool fromText);

// The message that ends a run when memory runs out: it names what was being read (the
// text file, or the workbook while it is converted).
std::string OutOfMemoryMessage(const std::string& source);

// A text with CR, LF or CR LF breaks as lines joined by "\n"; with `trailingBreak` each
// line, the last included, is followed by "\n".
std::string LogLines(const std::string& text, bool trailingBreak);

}  // namespace app
