#include "app/CommandLine.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <ostream>

#include <QCommandLineOption>
#include <QCommandLineParser>

#include "app/ImportRuns.h"
#include "convert/Smallfun.h"
#include "db/Database.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/FormatSettings.h"
#include "platform/NumberFormat.h"
#include "platform/Ui.h"

#ifndef TANKLOAD_VERSION
#define TANKLOAD_VERSION "0.0.0"
#endif

namespace app {
namespace {

struct Options {
  QCommandLineOption help{{"h", "help"}, "Показать эту справку."};
  QCommandLineOption version{{"v", "version"}, "Показать версию программы."};
  QCommandLineOption createDatabase{
      "create-database", "Создать новую базу данных с таблицами FromExcel и Stability_Elements."};
  QCommandLineOption fromText{
      "from-text",
      "Загрузить сводку из текстового файла FILE (по умолчанию svod.txt в каталоге программы)."};
  QCommandLineOption fromExcel{"from-excel", "Загрузить сводку из рабочей книги WORKBOOK.",
                               "WORKBOOK"};
  QCommandLineOption sheet{"sheet", "Лист рабочей книги (по умолчанию первый).", "NAME"};
  QCommandLineOption throughTable{"through-table",
                                  "Вставлять записи через таблицу (без ключа - SQL-запросами)."};
  QCommandLineOption database{
      "database", "Строка подключения (по умолчанию SQLite-файл dunvik.mdb в текущем каталоге).",
      "CONN"};
  QCommandLineOption decimalSeparator{"decimal-separator",
                                      "Десятичный разделитель вместо разделителя локали.", "C"};
  QCommandLineOption show{"show",
                          "Вывести таблицу TABLE (по умолчанию FromExcel) через табуляцию."};
  QCommandLineOption report{
      "report",
      "С --from-text или --from-excel: записать полный отчёт о чтении (непреобразованные "
      "ячейки, пропущенные строки, лишние ячейки) в FILE, UTF-8 через табуляцию.",
      "FILE"};
  QCommandLineOption dryRun{
      "dry-run",
      "С --from-text или --from-excel: только прочитать и проверить файл, как это сделала бы "
      "загрузка; база данных не открывается, ничего не записывается."};
  QCommandLineOption strict{
      "strict",
      "С --from-text или --from-excel: отклонить файл с непреобразованными ячейками, "
      "пропущенными строками (столбец B) или без строк данных; база данных не меняется."};
  QCommandLineOption project{
      "project",
      "Проект загружаемых строк (по умолчанию TOrva_1); SQL-загрузка заменяет его строки.", "NAME"};
  QCommandLineOption lpp{"lpp", "LPP загружаемых строк, целое больше нуля (по умолчанию 142).",
                         "N"};

  void AddTo(QCommandLineParser& parser) const {
    parser.setApplicationDescription(
        "tankload: загрузка сводок танков судна в базу данных.\n"
        "Без ключей команд открывает окно программы.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QCommandLineOption* o :
         {&help, &version, &createDatabase, &fromText, &fromExcel, &sheet, &throughTable, &database,
          &decimalSeparator, &show, &report, &dryRun, &strict, &project, &lpp}) {
      parser.addOption(*o);
    }
    parser.addPositionalArgument("FILE|TABLE", "Файл для --from-text или таблица для --show.",
                                 "[FILE|TABLE]");
  }
};

Command UsageError(std::string error) {
  Command c;
  c.kind = Command::Kind::UsageError;
  c.error = std::move(error);
  return c;
}

// Messages of the runs and of the spreadsheet bridge go to standard error.
class StreamMessages : public platform::MessageSink {
 public:
  explicit StreamMessages(std::ostream& err) : err_(err) {}
  void ShowMessage(const std::string& text) override {
    err_ << text << '\n';
    err_.flush();
    shown = true;
  }
  bool shown = false;

 private:
  std::ostream& err_;
};

class CommandLineHost : public ImportHost {
 public:
  CommandLineHost(std::ostream& out, std::ostream& err, StreamMessages& messages,
                  const CommandEnvironment& environment, std::string workbook)
      : out_(out),
        err_(err),
        messages_(messages),
        environment_(environment),
        workbook_(std::move(workbook)) {}

  void ClearLog() override {}
  void Log(const std::string& text) override {
    ClearProgress();
    out_ << text << '\n';
    out_.flush();
  }
  void ShowMessage(const std::string& text) override {
    ClearProgress();
    messages_.ShowMessage(text);
  }
  bool SelectFile(std::string& path, const std::string&) override {
    path = workbook_;
    return true;
  }
  void Progress(int done, int total) override {
    if (!environment_.progressOnTerminal) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    err_ << "\rОбработано строк: " << done << " из " << total << "   ";
    err_.flush();
    progressShown_ = true;
    if (done >= total) ClearProgress();
  }
  std::string ProgramDirectory() const override { return environment_.programDirectory; }
  TDateTime Now() override { return environment_.clock ? environment_.clock() : ImportHost::Now(); }
  ~CommandLineHost() override { ClearProgress(); }

 private:
  void ClearProgress() {
    if (!progressShown_) return;
    err_ << '\r' << std::string(60, ' ') << '\r';
    err_.flush();
    progressShown_ = false;
  }

  std::ostream& out_;
  std::ostream& err_;
  StreamMessages& messages_;
  const CommandEnvironment& environment_;
  std::string workbook_;
  std::chrono::steady_clock::time_point lastProgress_{};
  bool progressShown_ = false;
};

int ShowTable(db::Connection& connection, const std::string& name, std::ostream& out,
              StreamMessages& messages) {
  if (db::WriteTable(connection, name, out)) return 0;
  messages.ShowMessage("Таблица <" + name + "> не найдена");
  return 1;
}

// --report, --dry-run and --strict go with an import command only. An error text, or empty.
std::string ParseReportOptions(const QCommandLineParser& parser, const Options& o, Command& c) {
  const bool import = c.kind == Command::Kind::FromText || c.kind == Command::Kind::FromExcel;
  for (const auto* option : {&o.report, &o.dryRun, &o.strict}) {
    if (parser.isSet(*option) && !import) {
      return "--" + option->names().constLast().toStdString() +
             " нужен только с --from-text или --from-excel";
    }
  }
  if (parser.isSet(o.report)) {
    c.reportFile = parser.value(o.report).toStdString();
    if (c.reportFile.empty()) return "--report ждёт путь к файлу отчёта";
  }
  c.dryRun = parser.isSet(o.dryRun);
  c.strict = parser.isSet(o.strict);
  return {};
}

// The --report file: the header, then every entry as the run finds it, written in
// pieces; the file appears whole when the run has ended (also when it failed, since the
// report tells why).
class ReportFile {
 public:
  explicit ReportFile(const std::string& path) : file_(path) {
    buffer_ = ReportHeaderLine() + '\n';
  }
  void Write(const ReportEntry& entry) {
    buffer_ += ReportEntryLine(entry);
    buffer_ += '\n';
    if (buffer_.size() >= 64 * 1024) Flush();
  }
  // False, with a message on `err`, when the file could not be written.
  bool Finish(std::ostream& err) {
    Flush();
    if (file_.Error() == 0 && file_.Commit()) return true;
    err << "Не могу записать отчёт <" << file_.Target() << ">: " << std::strerror(file_.Error())
        << '\n';
    return false;
  }

 private:
  void Flush() {
    file_.Write(buffer_);
    buffer_.clear();
  }
  platform::AtomicFile file_;
  std::string buffer_;
};

// --dry-run: the chosen run's reading without a database. Exit status 1 when the source
// could not be read, or when --strict would refuse the file.
int DryRunCommand(const Command& command, const CommandEnvironment& environment,
                  ImportReport& report, StreamMessages& messages, std::ostream& out,
                  std::ostream& err);

}  // namespace

Command ParseCommandLine(const QStringList& arguments) {
  Options o;
  QCommandLineParser parser;
  o.AddTo(parser);
  if (!parser.parse(arguments)) return UsageError(parser.errorText().toStdString());

  Command c;
  if (parser.isSet(o.help)) {
    c.kind = Command::Kind::Help;
    return c;
  }
  if (parser.isSet(o.version)) {
    c.kind = Command::Kind::Version;
    return c;
  }
  c.connectionString = parser.isSet(o.database) ? parser.value(o.database).toStdString()
                                                : std::string(db::DesignTimeConnectionString);
  if (parser.isSet(o.decimalSeparator)) {
    const QString sep = parser.value(o.decimalSeparator);
    if (sep.size() != 1 || sep[0].unicode() <= 32 || sep[0].unicode() >= 127 ||
        sep[0].isLetterOrNumber()) {
      return UsageError("--decimal-separator ждёт один знак, например , или .");
    }
    c.decimalSeparator = static_cast<char>(sep[0].unicode());
  }

  int commands = 0;
  for (const QCommandLineOption* command :
       {&o.createDatabase, &o.fromText, &o.fromExcel, &o.show}) {
    if (parser.isSet(*command)) ++commands;
  }
  if (commands > 1) {
    return UsageError(
        "укажите одну команду: --create-database, --from-text, --from-excel или --show");
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) {
    return UsageError("лишние аргументы: " + positional.mid(1).join(' ').toStdString());
  }
  if (parser.isSet(o.fromText)) {
    c.kind = Command::Kind::FromText;
  } else if (parser.isSet(o.fromExcel)) {
    c.kind = Command::Kind::FromExcel;
    c.file = parser.value(o.fromExcel).toStdString();
    if (c.file.empty()) return UsageError("--from-excel ждёт путь к рабочей книге");
  } else if (parser.isSet(o.show)) {
    c.kind = Command::Kind::Show;
    c.file = "FromExcel";
  } else if (parser.isSet(o.createDatabase)) {
    c.kind = Command::Kind::CreateDatabase;
  }
  if (!positional.isEmpty()) {
    if (c.kind != Command::Kind::FromText && c.kind != Command::Kind::Show) {
      return UsageError("лишний аргумент: " + positional.first().toStdString());
    }
    c.file = positional.first().toStdString();
  }
  if (parser.isSet(o.sheet)) {
    if (c.kind != Command::Kind::FromExcel)
      return UsageError("--sheet нужен только с --from-excel");
    c.sheet = parser.value(o.sheet).toStdString();
  }
  for (const QCommandLineOption* value : {&o.project, &o.lpp}) {
    if (parser.isSet(*value) && c.kind != Command::Kind::FromText &&
        c.kind != Command::Kind::FromExcel) {
      return UsageError("--" + value->names().first().toStdString() +
                        " нужен только с --from-text или --from-excel");
    }
  }
  if (parser.isSet(o.project) &&
      !ReadProjectName(parser.value(o.project).toStdString(), c.values.project)) {
    return UsageError("--project ждёт имя проекта: непустое, без табуляций и переводов строки");
  }
  if (parser.isSet(o.lpp) && !ReadLpp(parser.value(o.lpp).toStdString(), c.values.lpp)) {
    return UsageError("--lpp ждёт целое число больше нуля, а не «" +
                      parser.value(o.lpp).toStdString() + "»");
  }
  if (parser.isSet(o.throughTable)) {
    if (c.kind != Command::Kind::FromText && c.kind != Command::Kind::FromExcel) {
      return UsageError("--through-table нужен только с --from-text или --from-excel");
    }
    c.throughTable = true;
  }
  if (std::string error = ParseReportOptions(parser, o, c); !error.empty()) {
    return UsageError(std::move(error));
  }
  return c;
}

std::string HelpText() {
  Options o;
  QCommandLineParser parser;
  o.AddTo(parser);
  // The usage line names the program as it was started.
  QString text = parser.helpText();
  return text.toStdString();
}

std::string VersionText() { return std::string("tankload ") + TANKLOAD_VERSION; }

int RunCommand(const Command& command, const CommandEnvironment& environment, std::ostream& out,
               std::ostream& err) {
  switch (command.kind) {
    case Command::Kind::Help:
      out << HelpText();
      return 0;
    case Command::Kind::Version:
      out << VersionText() << '\n';
      return 0;
    case Command::Kind::UsageError:
      err << "tankload: " << command.error << "\nСправка: tankload --help\n";
      return 2;
    case Command::Kind::Window:
      err << "tankload: нет команды для командной строки\nСправка: tankload --help\n";
      return 2;
    default:
      break;
  }

  TFormatSettings settings = FormatSettings;
  if (command.decimalSeparator) settings.DecimalSeparator = *command.decimalSeparator;
  platform::ScopedFormatSettings scopedSettings(settings);
  DefaultDataBaseTypeName = "ACCESS";

  StreamMessages messages(err);
  platform::MessageSink* previousSink = platform::SetMessageSink(&messages);
  struct RestoreSink {
    platform::MessageSink* previous;
    ~RestoreSink() { platform::SetMessageSink(previous); }
  } restoreSink{previousSink};

  // The import report: its first entries go to the log, all of them to --report.
  ImportReport report;
  std::optional<ReportFile> reportFile;
  if (!command.reportFile.empty()) {
    reportFile.emplace(command.reportFile);
    report.onEntry = [&reportFile](const ReportEntry& entry) { reportFile->Write(entry); };
  }
  // A report file is written however the run ended; failing to write it fails the command.
  const auto finishReport = [&](int status) {
    if (reportFile && !reportFile->Finish(err)) return 1;
    return status;
  };

  try {
    if (command.dryRun)
      return finishReport(DryRunCommand(command, environment, report, messages, out, err));
    db::Connection connection(command.connectionString);
    if (command.kind == Command::Kind::CreateDatabase) {
      connection.Open(true);
      db::CreateSchema(connection);
      out << "Создана база данных: " << connection.Describe() << '\n';
      return 0;
    }
    if (command.kind == Command::Kind::FromExcel && !platform::FileExists(command.file)) {
      messages.ShowMessage("Не могу найти файл <" + command.file + ">");
      return 1;
    }
    // Showing a table reads only: the database is opened so and stays as it was.
    if (command.kind == Command::Kind::Show) {
      connection.OpenReadOnly();
      return ShowTable(connection, command.file, out, messages);
    }
    connection.Open();

    db::Query query(connection);
    db::Table table(connection);
    table.SetTableName("Stability_Elements");
    TStringList fileLines;
    std::string lastXlsFile = command.file;
    ImportTarget target{connection,  query,         table,         fileLines,
                        lastXlsFile, std::string{}, command.sheet, command.values};
    const bool fromText = command.kind == Command::Kind::FromText;
    if (fromText) target.textFile = command.file;
    target.report = &report;
    target.strict = command.strict;
    CommandLineHost host(out, err, messages, environment, command.file);
    const RunEnd end = command.throughTable ? ImportThroughTable(host, target, fromText)
                                            : ImportBySQL(host, target, fromText);
    return finishReport(end == RunEnd::Completed && !messages.shown ? 0 : 1);
  } catch (const std::bad_alloc&) {
    finishReport(1);
    // The runs name the file they were reading; what is left is the table being shown.
    err << (command.kind == Command::Kind::Show
                ? "Недостаточно памяти для вывода таблицы <" + command.file + ">"
                : std::string("Недостаточно памяти"))
        << '\n';
    return 1;
  } catch (const std::exception& e) {
    err << e.what() << '\n';
    return finishReport(1);
  }
}

namespace {

int DryRunCommand(const Command& command, const CommandEnvironment& environment,
                  ImportReport& report, StreamMessages& messages, std::ostream& out,
                  std::ostream& err) {
  if (command.kind == Command::Kind::FromExcel && !platform::FileExists(command.file)) {
    messages.ShowMessage("Не могу найти файл <" + command.file + ">");
    return 1;
  }
  TStringList fileLines;
  std::string lastXlsFile = command.file;
  const bool fromText = command.kind == Command::Kind::FromText;
  DryRunSource source{fileLines,     lastXlsFile, fromText ? command.file : std::string(),
                      command.sheet, &report,     command.values};
  CommandLineHost host(out, err, messages, environment, command.file);
  const RunEnd end = DryRun(host, source, fromText, !command.throughTable);
  if (end != RunEnd::Completed || messages.shown) return 1;
  if (command.strict && report.Refused()) {
    messages.ShowMessage(report.RefusalMessage());
    return 1;
  }
  return 0;
}

}  // namespace

}  // namespace app
