#include "app/ImportRuns.h"

#include <stdlib.h>

#include <exception>
#include <filesystem>
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
// names what is being read: the text file, or the workbook while it is converted. A
// workbook's text goes to `textPath`, or beside the workbook when that is empty.
RunEnd LoadSource(ImportHost& host, TStringList& fileLines, std::string& lastXlsFile,
                  const std::string& textFile, const std::string& sheetName, bool fromText,
                  std::string& path, const std::string& textPath = {}) {
  if (fromText) {
    path = textFile.empty() ? host.ProgramDirectory() + "svod.txt" : textFile;
    if (!platform::FileExists(path)) {
      host.ShowMessage("Не могу найти файл <" + path + ">");
      return RunEnd::FileMissing;
    }
  } else {
    if (!host.SelectFile(lastXlsFile, kWorkbookFilter)) return RunEnd::Cancelled;
    path = lastXlsFile;
    path = SaveSheetAsText(lastXlsFile, sheetName, textPath);
    if (path.empty()) return RunEnd::NoText;
  }
  fileLines.LoadFromFile(path);
  return RunEnd::Completed;
}

RunEnd LoadSource(ImportHost& host, ImportTarget& target, bool fromText, std::string& path) {
  return LoadSource(host, target.fileLines, target.lastXlsFile, target.textFile, target.sheetName,
                    fromText, path);
}

// The four summary lines that close a run, and for a file that mixes UTF-8 and
// Windows-1251 lines one more line that says so.
// A dry run has no added count: that line is left out.
void LogSummary(ImportHost& host, const TStringList& lines, std::optional<int> added,
                TDateTime start, TDateTime end) {
  const double seconds = (end - start) * 86400.0;
  host.Log(std::string(70, '='));
  host.Log("Просмотрено строк: " + platform::IntToStr(lines.Count()));
  if (added) host.Log("Добавлено записей: " + platform::IntToStr(*added));
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

enum class LineKind { Blank, Header, Data, Skipped };

// Scans lines by the rules shared by both runs (a header line sets Tank) and, with a
// report, notes what the scan left behind: cells that did not convert, data lines
// skipped for column B, non-blank cells beyond the layout, and at the end a file
// without data lines.
class LineReader {
 public:
  LineReader(TZnFFSRecord& record, ImportReport* report)
      : record_(record), fields_(LookUpLineFields(record)), report_(report) {
    for (const auto& field : record.Fields) {
      if (!field->NoScan) ++readCells_;
    }
    if (report_ != nullptr) record_.failureSink = &failures_;
  }
  ~LineReader() { record_.failureSink = nullptr; }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // `index` counts lines from 0.
  LineKind Read(int index, const std::string& line) {
    record_.ScanString(line, '\t');
    if (report_ != nullptr) NoteScan(index);
    const LineKind kind = Classify(index);
    if (report_ != nullptr) {
      switch (kind) {
        case LineKind::Blank:
          ++report_->blankLines;
          break;
        case LineKind::Header:
          ++report_->headerLines;
          break;
        case LineKind::Data:
          ++report_->dataLines;
          break;
        case LineKind::Skipped:
          ++report_->skippedLines;
          break;
      }
    }
    return kind;
  }

  void Finish() {
    if (report_ != nullptr && report_->dataLines == 0) {
      ReportEntry entry;
      entry.kind = ReportEntry::Kind::NoDataLines;
      report_->Add(entry);
    }
  }

 private:
  LineKind Classify(int index) {
    const int n = record_.ScanCount;
    if (n == 0) return LineKind::Blank;
    if (znsrec::GetIsNull(fields_.designation)) return LineKind::Skipped;
    if (n == 1) {
      if (fields_.tank != nullptr) fields_.tank->Value = fields_.designation->Value;
      return LineKind::Header;
    }
    if (znsrec::GetIsNull(fields_.columnB)) return LineKind::Data;
    if (report_ != nullptr) {
      ReportEntry entry;
      entry.kind = ReportEntry::Kind::SkippedColumnB;
      entry.line = index + 1;
      entry.column = 1;
      entry.field = fields_.designation->Name;
      entry.text = znsrec::GetAsString(fields_.designation);
      report_->Add(entry);
    }
    return LineKind::Skipped;
  }

  void NoteScan(int index) {
    for (const znsrec::ScanFailure& failure : failures_) {
      const TZnFFSField* field = record_.GetItem(failure.field);
      ReportEntry entry;
      entry.kind = ReportEntry::Kind::Unconverted;
      entry.line = index + 1;
      entry.column = failure.cell + 1;
      entry.field = field->Name;
      entry.text = record_.Cells[static_cast<std::size_t>(failure.cell)];
      entry.stored = znsrec::GetAsSQLConstant(field);
      report_->Add(entry);
    }
    // Blank cells beyond the layout lose nothing (a spreadsheet's wider used range
    // writes them); a line counts once, at its first non-blank surplus cell.
    for (std::size_t c = readCells_; c < record_.Cells.size(); ++c) {
      if (platform::IsBlank(record_.Cells[c])) continue;
      ReportEntry entry;
      entry.kind = ReportEntry::Kind::SurplusCells;
      entry.line = index + 1;
      entry.column = static_cast<int>(c) + 1;
      entry.text = record_.Cells[c];
      report_->Add(entry);
      break;
    }
  }

  TZnFFSRecord& record_;
  LineFields fields_;
  ImportReport* report_;
  std::vector<znsrec::ScanFailure> failures_;
  std::size_t readCells_ = 0;
};

// The report block after the summary, when there is something to report.
void LogReport(ImportHost& host, const ImportReport& report, const std::string& noDataNote) {
  for (const std::string& line : report.LogBlock(noDataNote)) host.Log(line);
}

// A strict run checks its file before anything changes: the whole file is scanned into a
// record of its own, the report is gathered, and a refused file raises.
void CheckStrict(ImportHost& host, const TStringList& lines, ImportReport& report) {
  TZnFFSRecord record;
  PrepareImportRecord(&record, host.Now());
  LineReader reader(record, &report);
  for (int i = 0; i < lines.Count(); ++i) reader.Read(i, lines[i]);
  reader.Finish();
  if (report.Refused()) throw Exception(report.RefusalMessage());
}

std::string ProjectNote(const TZnFFSRecord& record) {
  return "проекта " + znsrec::GetAsString(record.ByName("Project"));
}

RunEnd RunBySQL(ImportHost& host, ImportTarget& target, bool fromText, std::string& source);
RunEnd RunThroughTable(ImportHost& host, ImportTarget& target, bool fromText, std::string& source);
RunEnd RunDry(ImportHost& host, DryRunSource& source, bool fromText, bool bySQL, std::string& path);
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

RunEnd DryRun(ImportHost& host, DryRunSource& source, bool fromText, bool bySQL) {
  return WithMemoryMessage(
      [&](std::string& path) { return RunDry(host, source, fromText, bySQL, path); });
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

  ImportReport ownReport;
  ImportReport& report = target.report != nullptr ? *target.report : ownReport;
  report.Reset();
  TZnFFSRecord record;
  PrepareImportRecord(&record, host.Now(), target.values);
  const int lineCount = target.fileLines.Count();
  int added = 0;
  int deleted = 0;
  {
    LineReader reader(record, &report);
    // The project's old rows and the new ones change together or not at all, and one
    // import of the project at a time: a second one waits for the first to end.
    std::optional<db::Transaction> transaction;
    try {
      transaction.emplace(
          target.connection,
          db::ProjectLock{kImportTable, znsrec::GetAsString(record.ByName("Project"))});
      target.query.SetSQL("Delete From FromExcel " + std::string(" Where Project = ") +
                          znsrec::GetAsSQLConstant(record.ByName("Project")));
      deleted = target.query.ExecSQL();
      host.Log("Delete records: " + platform::IntToStr(deleted));

      host.Progress(0, lineCount);
      for (int i = 0; i < target.fileLines.Count(); ++i) {
        if (i % kProgressStep == 0 && i > 0) host.Progress(i, lineCount);
        if (reader.Read(i, target.fileLines[i]) != LineKind::Data) continue;
        target.query.SetSQL(record.InsertSQL(kImportTable));
        if (added < 5) {
          host.Log(platform::IntToStr(i) + " " + std::string(60, '-'));
          host.Log(LogLines(target.query.SQL(), true));
          host.Log(LogLines(record.UpdateSQL(kImportTable, "ID = 1"), false));
        }
        added += target.query.ExecSQL();
      }
      host.Progress(lineCount, lineCount);
      reader.Finish();
      // Nothing is kept of a refused file: the deletion goes back with the inserts.
      if (target.strict && report.Refused()) throw Exception(report.RefusalMessage());
      transaction->Commit();
    } catch (const std::exception&) {
      // Leaving the block rolls the transaction back before the error goes on.
      RethrowRolledBack();
    }
  }
  LogSummary(host, target.fileLines, added, start, host.Now());
  LogReport(host, report,
            "Прежние записи " + ProjectNote(record) + " удалены: " + platform::IntToStr(deleted));
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

  ImportReport ownReport;
  ImportReport& report = target.report != nullptr ? *target.report : ownReport;
  report.Reset();
  // Strict: the whole file is checked before the table is touched; the loop below then
  // gathers nothing more, since the check has the report already.
  if (target.strict) {
    try {
      CheckStrict(host, target.fileLines, report);
    } catch (Exception& e) {
      e.AppendNote("\nНичего не добавлено.");
      throw;
    }
  }

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
  LineReader reader(record, target.strict ? nullptr : &report);
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
      if (reader.Read(i, target.fileLines[i]) != LineKind::Data) continue;
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
  reader.Finish();
  LogSummary(host, target.fileLines, added, start, host.Now());
  LogReport(host, report, {});
  return RunEnd::Completed;
}

// A directory of its own in the temporary directory (mode 0700), removed with all it
// holds when the object goes.
class PrivateTempDir {
 public:
  PrivateTempDir() {
    std::string pattern = ZnGetPath(3) + "tankload-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw Exception("Не могу создать временный каталог");
    path_ = pattern;
  }
  ~PrivateTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  PrivateTempDir(const PrivateTempDir&) = delete;
  PrivateTempDir& operator=(const PrivateTempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

RunEnd RunDry(ImportHost& host, DryRunSource& source, bool fromText, bool bySQL,
              std::string& path) {
  TWaitCursor waitCursor;
  const TDateTime start = host.Now();
  ScopeExit clearLines([&] { source.fileLines.Clear(); });
  std::optional<PrivateTempDir> textDir;
  if (!fromText) textDir.emplace();
  const std::string textPath = textDir ? textDir->Path() + "/svod.txt" : std::string();
  if (RunEnd end = LoadSource(host, source.fileLines, source.lastXlsFile, source.textFile,
                              source.sheetName, fromText, path, textPath);
      end != RunEnd::Completed) {
    return end;
  }
  textDir.reset();  // the lines are loaded; the text file has served

  if (bySQL) host.ClearLog();
  host.Log("Пробный запуск: база данных не открывается, ничего не записывается.");
  ImportReport ownReport;
  ImportReport& report = source.report != nullptr ? *source.report : ownReport;
  report.Reset();
  TZnFFSRecord record;
  PrepareImportRecord(&record, host.Now(), source.values);
  LineReader reader(record, &report);
  const TStringList& lines = source.fileLines;
  host.Progress(0, lines.Count());
  for (int i = 0; i < lines.Count(); ++i) {
    if (i % kProgressStep == 0 && i > 0) host.Progress(i, lines.Count());
    if (reader.Read(i, lines[i]) != LineKind::Data) continue;
    // The statements the run would log for its first five rows.
    if (bySQL && report.dataLines <= 5) {
      host.Log(platform::IntToStr(i) + " " + std::string(60, '-'));
      host.Log(LogLines(record.InsertSQL(kImportTable), true));
      host.Log(LogLines(record.UpdateSQL(kImportTable, "ID = 1"), false));
    }
  }
  host.Progress(lines.Count(), lines.Count());
  reader.Finish();
  LogSummary(host, lines, std::nullopt, start, host.Now());
  LogReport(host, report,
            bySQL ? "Запуск удалил бы прежние записи " + ProjectNote(record) + "." : std::string());
  host.Log("Пустых строк: " + platform::IntToStr(report.blankLines));
  host.Log("Строк заголовков: " + platform::IntToStr(report.headerLines));
  host.Log("Строк данных: " + platform::IntToStr(report.dataLines));
  host.Log("Пропущено строк: " + platform::IntToStr(report.skippedLines));
  return RunEnd::Completed;
}

}  // namespace

}  // namespace app
