#include "app/ImportRuns.h"

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "app/ImportLayout.h"
#include "convert/Smallfun.h"
#include "db/Database.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"
#include "record/Znsrec.h"
#include "sheet/Xlsfun.h"

namespace app {

TDateTime ImportHost::Now() { return platform::Now(); }

namespace {

// Runs an action when the scope ends, however it ends; the action's own errors are
// swallowed, since it may run while an exception is already on its way.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F action) : action_(std::move(action)) {}
  ~ScopeExit() {
    try {
      action_();
    } catch (...) {
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F action_;
};

// Progress is reported every this many lines.
constexpr int kProgressStep = 1024;
// Rows posted per transaction by the table run on SQLite.
constexpr int kTableBatch = 2000;

// Steps shared by both runs: the text file (svod.txt, or a workbook chosen and saved as
// text), loaded into the line list. Returns Completed when the lines are loaded. `path`
// names what is being read: the text file, or the workbook while it is converted.
RunEnd LoadSource(ImportHost& host, ImportTarget& target, bool fromText, std::string& path) {
  if (fromText) {
    path = target.textFile.empty() ? host.ProgramDirectory() + "svod.txt" : target.textFile;
    if (!platform::FileExists(path)) {
      host.ShowMessage("Не могу найти файл <" + path + ">");
      return RunEnd::FileMissing;
    }
  } else {
    if (!host.SelectFile(target.lastXlsFile, kWorkbookFilter)) return RunEnd::Cancelled;
    path = target.lastXlsFile;
    path = SaveSheetAsText(target.lastXlsFile, target.sheetName, "");
    if (path.empty()) return RunEnd::NoText;
  }
  target.fileLines.LoadFromFile(path);
  return RunEnd::Completed;
}

// The four summary lines that close a run, and for a file that mixes UTF-8 and
// Windows-1251 lines one more line that says so.
void LogSummary(ImportHost& host, const TStringList& lines, int added, TDateTime start,
                TDateTime end) {
  const double seconds = (end - start) * 86400.0;
  host.Log(std::string(70, '='));
  host.Log("Просмотрено строк: " + platform::IntToStr(lines.Count()));
  host.Log("Добавлено записей: " + platform::IntToStr(added));
  host.Log("Время выполнения:  " + platform::FormatFloat("0.000", seconds) + " сек");
  const platform::TextDecoding& decoding = lines.LoadedDecoding();
  if (decoding.Mixed()) {
    host.Log("Смешанная кодировка: строк в UTF-8: " +
             platform::IntToStr(static_cast<std::int64_t>(decoding.utf8Lines)) +
             ", в Windows-1251: " +
             platform::IntToStr(static_cast<std::int64_t>(decoding.win1251Lines)));
  }
}

// An allocation failure inside a run that rolled its changes back.
struct RolledBackOutOfMemory : std::bad_alloc {};

// Runs one import run and turns an allocation failure into a message that names what was
// being read, instead of the bare name of the exception.
template <typename Run>
RunEnd WithMemoryMessage(Run run) {
  std::string source;
  try {
    return run(source);
  } catch (const RolledBackOutOfMemory&) {
    throw Exception(OutOfMemoryMessage(source) + kRolledBackNote);
  } catch (const std::bad_alloc&) {
    throw Exception(OutOfMemoryMessage(source));
  }
}

// The fields that the line rules read, looked up once per run: the pointers stay valid
// while the record keeps its layout.
struct LineFields {
  TZnFFSField* designation;
  TZnFFSField* tank;
  TZnFFSField* columnB;
};

LineFields LookUpLineFields(TZnFFSRecord& record) {
  return {record.ByName("Designation"), record.ByName("Tank"), record.ByName("ColumnB")};
}

// Scans a line and applies the rules shared by both runs. True for a data line; a header
// line sets Tank.
bool ScanDataLine(TZnFFSRecord& record, const LineFields& f, const std::string& line) {
  record.ScanString(line, '\t');
  const int n = record.ScanCount;
  if (n == 0) return false;
  if (znsrec::GetIsNull(f.designation)) return false;
  if (n == 1) {
    if (f.tank != nullptr) f.tank->Value = f.designation->Value;
    return false;
  }
  return znsrec::GetIsNull(f.columnB);
}

RunEnd RunBySQL(ImportHost& host, ImportTarget& target, bool fromText, std::string& source);
RunEnd RunThroughTable(ImportHost& host, ImportTarget& target, bool fromText, std::string& source);
// Rethrows `error` with `note` added to its message. Errors of the program keep their type
// and what they carry; any other error becomes an Exception with its message and the note.
[[noreturn]] void RethrowWithNote(const std::exception_ptr& error, const std::string& note) {
  try {
    std::rethrow_exception(error);
  } catch (Exception& e) {
    e.AppendNote(note);
    throw;
  } catch (const std::exception& e) {
    throw Exception(std::string(e.what()) + note);
  }
}

// Rethrows the error in flight, of a rolled-back run, with the note that nothing was
// changed.
[[noreturn]] void RethrowRolledBack() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    throw RolledBackOutOfMemory();
  } catch (...) {
    RethrowWithNote(std::current_exception(), kRolledBackNote);
  }
}

}  // namespace

std::string OutOfMemoryMessage(const std::string& source) {
  if (source.empty()) return "Недостаточно памяти для загрузки";
  return "Недостаточно памяти для чтения файла <" + source + ">";
}

std::string LogLines(const std::string& text, bool trailingBreak) {
  std::string out;
  out.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  // A break at the very end adds no empty line.
  if (!out.empty() && out.back() == '\n') out.pop_back();
  if (trailingBreak && !text.empty()) out += '\n';
  return out;
}

RunEnd ImportBySQL(ImportHost& host, ImportTarget& target, bool fromText) {
  return WithMemoryMessage(
      [&](std::string& source) { return RunBySQL(host, target, fromText, source); });
}

RunEnd ImportThroughTable(ImportHost& host, ImportTarget& target, bool fromText) {
  return WithMemoryMessage(
      [&](std::string& source) { return RunThroughTable(host, target, fromText, source); });
}

namespace {

RunEnd RunBySQL(ImportHost& host, ImportTarget& target, bool fromText, std::string& source) {
  TWaitCursor waitCursor;
  const TDateTime start = host.Now();
  // The line list is empty between runs, also after a failed load.
  ScopeExit clearLines([&] { target.fileLines.Clear(); });
  if (RunEnd end = LoadSource(host, target, fromText, source); end != RunEnd::Completed) return end;

  if (target.query.Active()) target.query.Close();
  host.ClearLog();

  TZnFFSRecord record;
  PrepareImportRecord(&record, host.Now(), target.values);
  const LineFields fields = LookUpLineFields(record);
  const int lineCount = target.fileLines.Count();
  int added = 0;
  {
    // The project's old rows and the new ones change together or not at all, and one
    // import of the project at a time: a second one waits for the first to end.
    std::optional<db::Transaction> transaction;
    try {
      transaction.emplace(
          target.connection,
          db::ProjectLock{kImportTable, znsrec::GetAsString(record.ByName("Project"))});
      target.query.SetSQL("Delete From FromExcel " + std::string(" Where Project = ") +
                          znsrec::GetAsSQLConstant(record.ByName("Project")));
      const int deleted = target.query.ExecSQL();
      host.Log("Delete records: " + platform::IntToStr(deleted));

      host.Progress(0, lineCount);
      for (int i = 0; i < target.fileLines.Count(); ++i) {
        if (i % kProgressStep == 0 && i > 0) host.Progress(i, lineCount);
        if (!ScanDataLine(record, fields, target.fileLines[i])) continue;
        target.query.SetSQL(record.InsertSQL(kImportTable));
        if (added < 5) {
          host.Log(platform::IntToStr(i) + " " + std::string(60, '-'));
          host.Log(LogLines(target.query.SQL(), true));
          host.Log(LogLines(record.UpdateSQL(kImportTable, "ID = 1"), false));
        }
        added += target.query.ExecSQL();
      }
      host.Progress(lineCount, lineCount);
      transaction->Commit();
    } catch (const std::exception&) {
      // Leaving the block rolls the transaction back before the error goes on.
      RethrowRolledBack();
    }
  }
  LogSummary(host, target.fileLines, added, start, host.Now());
  target.fileLines.Clear();

  if (target.table.Active()) target.table.Close();
  target.table.SetTableName(kImportTable);
  target.table.Open();
  return RunEnd::Completed;
}

RunEnd RunThroughTable(ImportHost& host, ImportTarget& target, bool fromText, std::string& source) {
  TWaitCursor waitCursor;
  const TDateTime start = host.Now();
  ScopeExit clearLines([&] { target.fileLines.Clear(); });
  if (RunEnd end = LoadSource(host, target, fromText, source); end != RunEnd::Completed) return end;

  db::Table& table = target.table;
  if (platform::UpperCase(table.TableName()) != platform::UpperCase(kImportTable)) {
    if (table.Active()) table.Close();
    table.SetTableName(kImportTable);
  }
  if (!table.Active()) table.Open();

  TZnFFSRecord record;
  table.DisableControls();
  ScopeExit enableControls([&] { table.EnableControls(); });
  PrepareImportRecord(&record, host.Now(), target.values);
  const LineFields fields = LookUpLineFields(record);
  const int lineCount = target.fileLines.Count();
  int added = 0;

  // On SQLite every commit waits for the disk, so rows are committed in batches. A
  // failed post leaves SQLite's transaction open: the rows posted before it are
  // committed before the error goes on, so they stay as they would row by row.
  // PostgreSQL aborts a transaction at the first error, so there each row commits alone.
  const bool batched = target.connection.engine() == db::Engine::SQLite;
  std::optional<db::Transaction> batch;
  int inBatch = 0;
  try {
    host.Progress(0, lineCount);
    for (int i = 0; i < target.fileLines.Count(); ++i) {
      if (i % kProgressStep == 0 && i > 0) host.Progress(i, lineCount);
      if (!ScanDataLine(record, fields, target.fileLines[i])) continue;
      if (batched && !batch) batch.emplace(target.connection);
      if (record.Insert(&table, true)) {
        ++added;
        ++inBatch;
      }
      if (batch && inBatch >= kTableBatch) {
        batch->Commit();
        batch.reset();
        inBatch = 0;
      }
    }
    if (batch) {
      batch->Commit();
      batch.reset();
    }
    host.Progress(lineCount, lineCount);
  } catch (const std::exception&) {
    if (!batch) throw;
    const std::exception_ptr error = std::current_exception();
    try {
      batch->Commit();
    } catch (const std::exception&) {
      RethrowWithNote(error, "\nПоследние " + platform::IntToStr(inBatch) +
                                 " добавленных записей не сохранены: база данных отменила их.");
    }
    throw;
  }
  LogSummary(host, target.fileLines, added, start, host.Now());
  return RunEnd::Completed;
}

}  // namespace

}  // namespace app
