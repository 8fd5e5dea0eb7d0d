#pragma once
// The two import runs: a summary file (a tab-separated text file, or a workbook sheet
// saved as one) read line by line into the import record and added to the table
// "FromExcel", either by generated SQL statements or through the table dataset. The
// runs touch no widgets: the window, the command line and the tests each implement
// ImportHost.

#include <functional>
#include <string>
#include <vector>

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

// One finding of the import report. Lines and columns count from 1, as editors and
// spreadsheets do (the log's statement diagnostics count lines from 0).
struct ReportEntry {
  enum class Kind {
    Unconverted,     // a non-blank cell that did not convert; the field took `stored`
    SkippedColumnB,  // a data line not added because column B is filled
    SurplusCells,    // a line with non-blank cells beyond those the layout reads
    NoDataLines,     // the file yields no data line
  };
  Kind kind = Kind::Unconverted;
  int line = 0;        // 0 for NoDataLines
  int column = 0;      // the cell's column (A for a skipped line's designation)
  std::string field;   // the field the cell feeds; empty for surplus cells
  std::string text;    // the cell's text (a skipped line's designation)
  std::string stored;  // the value stored instead, as SQL text ("NULL")
};

// The spreadsheet letters of a 1-based column number: A ... Z, AA, AB, ...
std::string ColumnLetters(int column);
// The header line and one line of the report written by --report: UTF-8, fields
// separated by tabs (tabs, CR and LF inside a text become blanks).
std::string ReportHeaderLine();
std::string ReportEntryLine(const ReportEntry& entry);

// What a run found in its file besides the rows it stores, gathered as it scans. Counts
// are complete; of each kind only the first kFirst entries are kept, the rest reach
// `onEntry` only, so memory stays small whatever the file holds.
class ImportReport {
 public:
  static constexpr int kFirst = 10;

  // Called with every entry as it is found (the --report file); may be empty.
  std::function<void(const ReportEntry&)> onEntry;

  // Forgets what an earlier run found; `onEntry` stays.
  void Reset();
  void Add(const ReportEntry& entry);

  int unconverted = 0;
  int skippedColumnB = 0;
  int surplusLines = 0;
  bool noDataLines = false;
  std::vector<ReportEntry> firstUnconverted;
  std::vector<ReportEntry> firstSkipped;
  std::vector<int> firstSurplusLines;
  // How the lines were classified: no value at all, header, data, and lines passed over
  // (no designation, or column B filled).
  int blankLines = 0;
  int headerLines = 0;
  int dataLines = 0;
  int skippedLines = 0;

  // Something to report: a clean file has nothing.
  bool HasFindings() const {
    return unconverted > 0 || skippedColumnB > 0 || surplusLines > 0 || noDataLines;
  }
  // What a strict run refuses: an unconverted cell, a skipped column-B line, no data.
  bool Refused() const { return unconverted > 0 || skippedColumnB > 0 || noDataLines; }
  // The log block, one entry per line; `noDataNote` follows the no-data warning (what it
  // meant for the project's earlier rows), may be empty. Empty without findings.
  std::vector<std::string> LogBlock(const std::string& noDataNote) const;
  // One line for the window's bottom bar; empty without findings.
  std::string Summary() const;
  // The message of a refused strict run: counts and first entries.
  std::string RefusalMessage() const;
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
  // Where the run gathers its report (nullptr: a report of the run's own); the run
  // resets it first and logs its block after the summary.
  ImportReport* report = nullptr;
  // Refuse a file with findings that lose data (ImportReport::Refused) before anything
  // in the database changes: the run raises with RefusalMessage.
  bool strict = false;
};

// The source of a dry run: as in ImportTarget, without the database.
struct DryRunSource {
  TStringList& fileLines;
  std::string& lastXlsFile;
  std::string textFile;
  std::string sheetName;
  ImportReport* report = nullptr;
  // The project and LPP of the run it stands for (they appear in its statements).
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

// Reads, classifies and converts the file exactly as ImportBySQL (`bySQL`) or
// ImportThroughTable would, opening no database and writing nothing: a workbook's text
// goes to a private temporary file that is removed afterwards. Logs what the run would
// log except the database counts, then the report block and the line counts.
RunEnd DryRun(ImportHost& host, DryRunSource& source, bool fromText, bool bySQL);

// The message that ends a run when memory runs out: it names what was being read (the
// text file, or the workbook while it is converted).
std::string OutOfMemoryMessage(const std::string& source);

// A text with CR, LF or CR LF breaks as lines joined by "\n"; with `trailingBreak` each
// line, the last included, is followed by "\n".
std::string LogLines(const std::string& text, bool trailingBreak);

}  // namespace app
