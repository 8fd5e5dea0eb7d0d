// The two import runs end to end on a real database of either engine.

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/ImportRuns.h"
#include "convert/Smallfun.h"
#include "platform/Exception.h"
#include "platform/FormatSettings.h"
#include "platform/Text.h"
#include "sheet/Engine.h"

using namespace apptest;

namespace {

constexpr const char* kSummaryRule =
    "======================================================================";
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The log entries from `from` on.
std::vector<std::string> After(const std::vector<std::string>& log, std::size_t from) {
  return {log.begin() + static_cast<std::ptrdiff_t>(std::min(from, log.size())), log.end()};
}

// 1 June 2024, 10:00.
constexpr TDateTime kJune1 = 45444.0 + 10.0 / 24.0;

class ImportRuns : public ::testing::TestWithParam<db::Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == db::Engine::PostgreSQL) TANKLOAD_REQUIRE_PG();
    DefaultDataBaseTypeName = "ACCESS";
    db_ = std::make_unique<TestDatabase>(GetParam(), dir_);
    query_ = std::make_unique<db::Query>(db_->connection());
    table_ = std::make_unique<db::Table>(db_->connection());
    table_->SetTableName("Stability_Elements");
    table_->Open();
    host_.programDirectory = dir_.Dir();
    lastXlsFile_ = dir_.Dir() + "*.xls";
  }
  void TearDown() override {
    table_.reset();
    query_.reset();
    db_.reset();
  }

  app::ImportTarget Target() {
    return {db_->connection(), *query_, *table_, lines_, lastXlsFile_, {}, {}, {}};
  }
  void WriteSvod(const std::string& text) { WriteFile(dir_.File("svod.txt"), text); }
  app::RunEnd BySQL(bool fromText = true) {
    app::ImportTarget t = Target();
    return app::ImportBySQL(host_, t, fromText);
  }
  app::RunEnd ThroughTable(bool fromText = true) {
    app::ImportTarget t = Target();
    return app::ImportThroughTable(host_, t, fromText);
  }
  QSqlDatabase database() { return db_->database(); }
  std::vector<std::string> Designations() {
    return Column(database(), "SELECT Designation FROM FromExcel ORDER BY ID");
  }
  // The log entries from the summary rule on.
  std::vector<std::string> Summary(std::size_t which = 0) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < host_.log.size(); ++i) {
      if (host_.log[i] != kSummaryRule) continue;
      if (seen++ == which && i + 4 <= host_.log.size()) {
        return {host_.log.begin() + static_cast<std::ptrdiff_t>(i),
                host_.log.begin() + static_cast<std::ptrdiff_t>(i + 4)};
      }
    }
    return {};
  }

  TempDir dir_;
  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<db::Query> query_;
  std::unique_ptr<db::Table> table_;
  TStringList lines_;
  std::string lastXlsFile_;
  RecordingHost host_;
};

// A file with every kind of line, in the order the line rules meet them.
const std::vector<std::string> kMixedFile = {
    DataLine("Д-0"),                               // 0: data before any header: Tank null
    "",                                            // 1: blank
    Line({"Цистерны топлива"}),                    // 2: header
    DataLine("ТТ-1"),                              // 3
    Line({"", "", "только шпангоут"}),             // 4: Designation empty: skipped
    Line({"Итого", "всего", "", "", "", "99,5"}),  // 5: ColumnB holds a value: skipped
    DataLine("ТТ-2"),                              // 6
    Line({"Балласт"}),                             // 7: header
    DataLine("БЦ-1"),                              // 8
    DataLine("БЦ-2"),                              // 9
    "   ",                                         // 10: blank cells only
    DataLine("БЦ-3"),                              // 11
    DataLine("БЦ-4"),                              // 12: sixth data line: no diagnostics
    DataLine("БЦ-5"),                              // 13
};

TEST_P(ImportRuns, SqlRunSortsLinesAndLogsTheFirstFiveStatements) {
  WriteSvod(Lines(kMixedFile));
  host_.log = {"Memo1"};
  host_.times = {kJune1, kJune1, kJune1 + 2.0 / 86400.0};

  EXPECT_EQ(BySQL(), app::RunEnd::Completed);

  EXPECT_EQ(Designations(), (std::vector<std::string>{"Д-0", "ТТ-1", "ТТ-2", "БЦ-1", "БЦ-2", "БЦ-3",
                                                      "БЦ-4", "БЦ-5"}));
  EXPECT_EQ(Column(database(), "SELECT Tank FROM FromExcel ORDER BY ID"),
            (std::vector<std::string>{"<null>", "Цистерны топлива", "Цистерны топлива", "Балласт",
                                      "Балласт", "Балласт", "Балласт", "Балласт"}));
  EXPECT_EQ(Column(database(),
                   "SELECT DISTINCT Project || '/' || CAST(LPP AS VARCHAR(10)) || '/' "
                   "|| CAST(Variant AS VARCHAR(10)) FROM FromExcel"),
            std::vector<std::string>{"TOrva_1/142/45444"});
  EXPECT_EQ(Count(database(),
                  "SELECT COUNT(*) FROM FromExcel WHERE Volume = 10.5 AND "
                  "Ypvm = -3.1 AND dmh = 12 AND dM = 3"),
            8);

  // The log starts afresh: the deleted rows, then three entries per diagnosed line; the
  // summary, and the report of the line skipped for its column B.
  ASSERT_EQ(host_.log.size(), 1u + 5 * 3 + 4 + 3);
  EXPECT_EQ(After(host_.log, 1 + 5 * 3 + 4),
            (std::vector<std::string>{"Отчёт о чтении файла (строки считаются с 1):",
                                      "Пропущено строк с заполненным столбцом B: 1",
                                      "  строка 6: «Итого»"}));
  EXPECT_EQ(host_.log[0], "Delete records: 0");
  std::vector<std::string> headings;
  for (std::size_t i = 1; i < 16; i += 3) headings.push_back(host_.log[i]);
  const std::string dashes(60, '-');
  EXPECT_EQ(headings, (std::vector<std::string>{"0 " + dashes, "3 " + dashes, "6 " + dashes,
                                                "8 " + dashes, "9 " + dashes}));
  // The statement as several lines and an empty one; the UPDATE text after it.
  const std::string& insert = host_.log[2];
  EXPECT_EQ(insert.rfind("Insert Into FromExcel \n(Tank ,Designation ,Frame ,", 0), 0u) << insert;
  EXPECT_NE(insert.find(" \nValues \n(NULL ,'Д-0' ,'12-18' ,'ЛБ' ,'2' ,10.5"), std::string::npos)
      << insert;
  EXPECT_TRUE(EndsWith(insert, " ,142 ,'TOrva_1' ,45444)\n")) << insert;
  EXPECT_EQ(insert.find('\r'), std::string::npos);
  const std::string& update = host_.log[3];
  EXPECT_EQ(update.rfind("Update FromExcel Set \n  Tank = NULL \n ,Designation = 'Д-0' \n", 0), 0u)
      << update;
  EXPECT_TRUE(EndsWith(update, " ,Project = 'TOrva_1' \n ,Variant = 45444 \nWhere ID = 1"))
      << update;

  EXPECT_EQ(Summary(),
            (std::vector<std::string>{kSummaryRule, "Просмотрено строк: 14", "Добавлено записей: 8",
                                      "Время выполнения:  2.000 сек"}));
  EXPECT_EQ(lines_.Count(), 0);
  EXPECT_TRUE(table_->Active());
  EXPECT_EQ(table_->TableName(), "FromExcel");
  EXPECT_FALSE(query_->Active());
  ASSERT_FALSE(host_.progress.empty());
  EXPECT_EQ(host_.progress.back(), std::make_pair(14, 14));
}

TEST_P(ImportRuns, SqlRunTwiceReplacesTheProjectsRows) {
  WriteSvod(Lines({Line({"Танк"}), DataLine("А-1"), DataLine("А-2"), DataLine("А-3")}));
  Exec(database(), "INSERT INTO FromExcel (Designation, Project) VALUES ('чужая', 'Other')");

  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);

  EXPECT_EQ(host_.log.front(), "Delete records: 3");
  EXPECT_EQ(Summary()[2], "Добавлено записей: 3");
  EXPECT_EQ(Column(database(), "SELECT Designation FROM FromExcel ORDER BY Designation"),
            (std::vector<std::string>{"А-1", "А-2", "А-3", "чужая"}));
}

TEST_P(ImportRuns, SqlRunOfBlankFileDeletesTheProjectsRows) {
  WriteSvod(Lines({DataLine("А-1"), DataLine("А-2")}));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  WriteSvod("\r\n\r\n   \r\n");

  ASSERT_EQ(BySQL(), app::RunEnd::Completed);

  EXPECT_EQ(host_.log.front(), "Delete records: 2");
  EXPECT_EQ(Summary()[1], "Просмотрено строк: 3");
  EXPECT_EQ(Summary()[2], "Добавлено записей: 0");
  EXPECT_EQ(Count(database(), "SELECT COUNT(*) FROM FromExcel"), 0);
}

TEST_P(ImportRuns, MissingSvodShowsTheMessageAndChangesNothing) {
  WriteSvod(Lines({DataLine("А-1")}));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  std::filesystem::remove(dir_.File("svod.txt"));
  const std::vector<std::string> logBefore = host_.log;

  for (bool throughTable : {false, true}) {
    SCOPED_TRACE(throughTable ? "through the table" : "by SQL");
    host_.messages.clear();
    EXPECT_EQ(throughTable ? ThroughTable() : BySQL(), app::RunEnd::FileMissing);
    EXPECT_EQ(host_.messages,
              std::vector<std::string>{"Не могу найти файл <" + dir_.File("svod.txt") + ">"});
    EXPECT_EQ(host_.log, logBefore);
    EXPECT_EQ(Designations(), std::vector<std::string>{"А-1"});
  }
}

TEST_P(ImportRuns, FailedSqlRunRollsBackToTheOldRows) {
  WriteSvod(Lines({Line({"Старый"}), DataLine("С-1"), DataLine("С-2")}));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  db_->RefuseDesignation("ПЛОХО");
  WriteSvod(Lines(
      {Line({"Новый"}), DataLine("Н-1"), DataLine("Н-2"), DataLine("ПЛОХО"), DataLine("Н-3")}));
  table_->Close();
  table_->SetTableName("Stability_Elements");
  table_->Open();

  try {
    BySQL();
    FAIL() << "the refused row did not end the run";
  } catch (const EDatabaseError& e) {
    // The database's own error goes on with the note: its type, the engine's code and
    // text stay as the database layer raised them.
    const std::string message = e.what();
    const std::string cause =
        GetParam() == db::Engine::SQLite ? "row refused by the test" : "refuse_row";
    EXPECT_NE(message.find(cause), std::string::npos) << message;
    EXPECT_TRUE(EndsWith(message, app::kRolledBackNote)) << message;
    EXPECT_NE(e.EngineMessage().find(cause), std::string::npos) << e.EngineMessage();
    // SQLITE_CONSTRAINT_TRIGGER; check_violation.
    EXPECT_EQ(e.EngineCode(), GetParam() == db::Engine::SQLite ? "1811" : "23514");
  }

  EXPECT_EQ(Designations(), (std::vector<std::string>{"С-1", "С-2"}));
  EXPECT_EQ(Column(database(), "SELECT DISTINCT Tank FROM FromExcel"),
            std::vector<std::string>{"Старый"});
  EXPECT_EQ(host_.log.front(), "Delete records: 2");
  EXPECT_TRUE(Summary().empty());
  EXPECT_EQ(lines_.Count(), 0);
  EXPECT_EQ(table_->TableName(), "Stability_Elements");

  // The connection is usable afterwards: the next run goes through.
  WriteSvod(Lines({DataLine("Н-1")}));
  EXPECT_EQ(BySQL(), app::RunEnd::Completed);
  EXPECT_EQ(Designations(), std::vector<std::string>{"Н-1"});
}

TEST_P(ImportRuns, TableRunTwiceAddsTheRowsAgainAndKeepsTheLog) {
  WriteSvod(Lines({Line({"Танк"}), DataLine("А-1"), Line({"x", "y"}), DataLine("А-2")}));
  host_.log = {"Memo1"};
  host_.times = {kJune1, kJune1, kJune1 + 1.5 / 86400.0};

  ASSERT_EQ(ThroughTable(), app::RunEnd::Completed);
  host_.times = {kJune1, kJune1, kJune1 + 0.25 / 86400.0};
  ASSERT_EQ(ThroughTable(), app::RunEnd::Completed);

  EXPECT_EQ(host_.log.front(), "Memo1");
  // Each summary is followed by the report of the line skipped for its column B.
  ASSERT_EQ(host_.log.size(), 1u + 2 * (4 + 3));
  EXPECT_EQ(host_.log[7], "  строка 3: «x»");
  EXPECT_EQ(Summary(0),
            (std::vector<std::string>{kSummaryRule, "Просмотрено строк: 4", "Добавлено записей: 2",
                                      "Время выполнения:  1.500 сек"}));
  EXPECT_EQ(Summary(1)[3], "Время выполнения:  0.250 сек");
  EXPECT_EQ(Designations(), (std::vector<std::string>{"А-1", "А-2", "А-1", "А-2"}));
  EXPECT_EQ(Column(database(),
                   "SELECT DISTINCT Tank || '/' || Project || '/' || "
                   "CAST(Variant AS VARCHAR(10)) FROM FromExcel"),
            std::vector<std::string>{"Танк/TOrva_1/45444"});
  EXPECT_EQ(table_->TableName(), "FromExcel");
  EXPECT_TRUE(table_->Active());
  EXPECT_FALSE(table_->ControlsDisabled());
  EXPECT_EQ(lines_.Count(), 0);

  // A later run by SQL statements starts a fresh log and replaces the doubled rows.
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  EXPECT_EQ(host_.log.front(), "Delete records: 4");
  EXPECT_EQ(Designations(), (std::vector<std::string>{"А-1", "А-2"}));
}

TEST_P(ImportRuns, TableRunSwitchesToFromExcelOnlyWhenTheNameDiffers) {
  struct Case {
    std::string name;
    std::string tableName;
    bool open;
    std::string expectedName;
    // Listener calls: Close and Open each notify once, then disable and enable.
    std::vector<bool> expectedNotifications;
  };
  const Case cases[] = {
      {"start-up table", "Stability_Elements", true, "FromExcel", {true, true, false, true}},
      {"same name, other case, open", "FROMEXCEL", true, "FROMEXCEL", {false, true}},
      {"same name, closed", "fromexcel", false, "fromexcel", {true, false, true}},
      {"other table, closed", "Stability_Elements", false, "FromExcel", {true, false, true}},
  };
  WriteSvod(Lines({DataLine("А-1")}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table_->Close();
    table_->SetTableName(c.tableName);
    if (c.open) table_->Open();
    std::vector<bool> notifications;
    table_->SetControlsListener([&](bool enabled) { notifications.push_back(enabled); });

    ASSERT_EQ(ThroughTable(), app::RunEnd::Completed);

    table_->SetControlsListener(nullptr);
    EXPECT_EQ(table_->TableName(), c.expectedName);
    EXPECT_TRUE(table_->Active());
    EXPECT_EQ(notifications, c.expectedNotifications);
  }
  EXPECT_EQ(Count(database(), "SELECT COUNT(*) FROM FromExcel"), 4);
}

TEST_P(ImportRuns, FailedTableRunKeepsTheRowsPostedBeforeTheError) {
  db_->RefuseDesignation("ПЛОХО");
  std::vector<std::string> file = {Line({"Танк"})};
  // More rows than one batch of the table run, so that a commit happens midway.
  for (int i = 0; i < 2100; ++i) file.push_back(DataLine("Р-" + std::to_string(i)));
  file.push_back(DataLine("ПЛОХО"));
  file.push_back(DataLine("после"));
  WriteSvod(Lines(file));
  host_.log = {"Memo1"};

  EXPECT_THROW(ThroughTable(), Exception);

  EXPECT_EQ(Count(database(), "SELECT COUNT(*) FROM FromExcel"), 2100);
  EXPECT_EQ(Count(database(), "SELECT COUNT(*) FROM FromExcel WHERE Designation = 'после'"), 0);
  EXPECT_EQ(host_.log, std::vector<std::string>{"Memo1"});
  EXPECT_FALSE(table_->ControlsDisabled());
  EXPECT_EQ(table_->State(), dsInsert);  // the refused row waits in the table
  EXPECT_EQ(lines_.Count(), 0);
}

TEST_P(ImportRuns, SummaryAndDecimalCommasUnderBothSeparators) {
  struct Case {
    std::string name;
    TFormatSettings settings;
    std::string elapsed;
  };
  const Case cases[] = {
      {"point", platform::UsFormatSettings(), "Время выполнения:  1.500 сек"},
      {"comma", platform::RussianFormatSettings(), "Время выполнения:  1,500 сек"},
  };
  WriteSvod(Lines({DataLine("А-1", "10,5"), DataLine("А-2", "10.5")}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ScopedFormatSettings scoped(c.settings);
    host_.times = {kJune1, kJune1, kJune1 + 1.5 / 86400.0};
    ASSERT_EQ(BySQL(), app::RunEnd::Completed);
    EXPECT_EQ(Summary()[3], c.elapsed);
    EXPECT_EQ(Count(database(), "SELECT COUNT(*) FROM FromExcel WHERE Volume = 10.5"), 2);
  }
}

TEST_P(ImportRuns, WindowsCodePageFileReadsAsCyrillic) {
  WriteSvod(platform::Utf8ToWin1251(Lines({Line({"Цистерна №1"}), DataLine("Ёмкость")})));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  EXPECT_EQ(Column(database(), "SELECT Tank || ':' || Designation FROM FromExcel"),
            std::vector<std::string>{"Цистерна №1:Ёмкость"});
}

TEST_P(ImportRuns, MixedEncodingFileIsDecodedLineByLineAndSaysSo) {
  // Lines pasted together from a UTF-8 and a Windows-1251 source: each line keeps its own
  // encoding; U+FEFF at the start of a cell is a character like any other.
  const std::string feff = "\xEF\xBB\xBF";
  WriteSvod(Lines({Line({"Цистерны топлива"}), platform::Utf8ToWin1251(DataLine("ТТ-1")),
                   DataLine(feff + "ТТ-2"), "", platform::Utf8ToWin1251(Line({"Балласт"})),
                   DataLine("БЦ-1")}));
  host_.log = {"Memo1"};
  for (bool throughTable : {false, true}) {
    SCOPED_TRACE(throughTable ? "through the table" : "by SQL");
    ASSERT_EQ(throughTable ? ThroughTable() : BySQL(), app::RunEnd::Completed);
    ASSERT_EQ(Summary().size(), 4u);
    EXPECT_EQ(host_.log.back(), "Смешанная кодировка: строк в UTF-8: 3, в Windows-1251: 2");
    EXPECT_EQ(host_.log[host_.log.size() - 5], kSummaryRule);
  }
  EXPECT_EQ(Column(database(), "SELECT Tank || ':' || Designation FROM FromExcel ORDER BY ID"),
            (std::vector<std::string>{"Цистерны топлива:ТТ-1", "Цистерны топлива:" + feff + "ТТ-2",
                                      "Балласт:БЦ-1", "Цистерны топлива:ТТ-1",
                                      "Цистерны топлива:" + feff + "ТТ-2", "Балласт:БЦ-1"}));

  // A clean file's log has no such line.
  WriteSvod(platform::Utf8ToWin1251(Lines({Line({"Балласт"}), DataLine("БЦ-1")})));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  EXPECT_TRUE(EndsWith(host_.log.back(), " сек")) << host_.log.back();
}

TEST_P(ImportRuns, SpecialFilesAreRefusedAndChangeNothing) {
  WriteSvod(Lines({DataLine("А-1")}));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  const std::vector<std::string> logBefore = host_.log;
  const std::string fifo = dir_.File("pipe.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::string kind;
  } cases[] = {{"/dev/zero", "символьное устройство"}, {fifo, "именованный канал (FIFO)"}};
  for (const Case& c : cases) {
    for (bool throughTable : {false, true}) {
      SCOPED_TRACE(c.path + (throughTable ? " through the table" : " by SQL"));
      app::ImportTarget target = Target();
      target.textFile = c.path;
      try {
        throughTable ? app::ImportThroughTable(host_, target, true)
                     : app::ImportBySQL(host_, target, true);
        ADD_FAILURE() << "no error";
      } catch (const EFileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Не могу прочитать файл <" + c.path + ">: это " + c.kind + ", а не обычный файл");
      }
      EXPECT_EQ(host_.log, logBefore);
      EXPECT_EQ(Designations(), std::vector<std::string>{"А-1"});
      EXPECT_EQ(lines_.Count(), 0);
    }
  }
}

// Runs out of memory at the first progress report, inside the line loop's protection.
class MemoryFailingHost : public RecordingHost {
 public:
  void Progress(int, int) override { throw std::bad_alloc(); }
};

TEST_P(ImportRuns, AllocationFailureEndsWithAMessageNamingTheFile) {
  WriteSvod(Lines({DataLine("А-1")}));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  WriteSvod(Lines({DataLine("Б-1"), DataLine("Б-2")}));
  MemoryFailingHost host;
  host.programDirectory = dir_.Dir();
  const std::string message =
      "Недостаточно памяти для чтения файла <" + dir_.File("svod.txt") + ">";
  for (bool throughTable : {false, true}) {
    SCOPED_TRACE(throughTable ? "through the table" : "by SQL");
    app::ImportTarget target = Target();
    try {
      throughTable ? app::ImportThroughTable(host, target, true)
                   : app::ImportBySQL(host, target, true);
      ADD_FAILURE() << "no error";
    } catch (const std::bad_alloc&) {
      ADD_FAILURE() << "the bare exception escaped";
    } catch (const Exception& e) {
      // The SQL run had begun to replace the rows: it says that nothing changed.
      EXPECT_EQ(std::string(e.what()), throughTable ? message : message + app::kRolledBackNote);
    }
    EXPECT_EQ(Designations(), std::vector<std::string>{"А-1"});
    EXPECT_EQ(lines_.Count(), 0);
  }
}

TEST_P(ImportRuns, WorkbookImportThroughTheSpreadsheetBridge) {
  sheet::RegisterNativeEngine();
  const std::string workbook = dir_.File("tanks.xlsx");
  std::filesystem::copy_file(SourcePath("examples/tanks.xlsx"), workbook);
  host_.log = {"Memo1"};

  // A cancelled chooser ends the run quietly.
  EXPECT_EQ(BySQL(false), app::RunEnd::Cancelled);
  EXPECT_EQ(host_.chooserPaths, std::vector<std::string>{dir_.Dir() + "*.xls"});
  EXPECT_EQ(host_.chooserFilters, std::vector<std::string>{"*.xls|*.xls"});
  EXPECT_EQ(host_.log, std::vector<std::string>{"Memo1"});
  EXPECT_EQ(lastXlsFile_, dir_.Dir() + "*.xls");

  host_.choice = workbook;
  for (bool throughTable : {false, true}) {
    SCOPED_TRACE(throughTable ? "through the table" : "by SQL");
    EXPECT_EQ(throughTable ? ThroughTable(false) : BySQL(false), app::RunEnd::Completed);
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_EQ(lastXlsFile_, workbook);
    EXPECT_TRUE(std::filesystem::exists(dir_.File("tanks.txt")));  // the bridge's text stays
  }
  // The same rows as the sample text file gives.
  WriteSvod(ReadFile(SourcePath("examples/svod.txt")));
  const std::vector<std::string> fromWorkbook =
      Column(database(),
             "SELECT Tank || '|' || Designation || '|' || Frame || '|' || "
             "CAST(ROUND(Volume * 100) AS INTEGER) FROM FromExcel ORDER BY ID");
  ASSERT_EQ(fromWorkbook.size(), 20u);
  ASSERT_EQ(BySQL(true), app::RunEnd::Completed);
  const std::vector<std::string> fromText =
      Column(database(),
             "SELECT Tank || '|' || Designation || '|' || Frame || '|' || "
             "CAST(ROUND(Volume * 100) AS INTEGER) FROM FromExcel ORDER BY ID");
  EXPECT_EQ(std::vector<std::string>(fromWorkbook.begin(), fromWorkbook.begin() + 10), fromText);
  EXPECT_EQ(fromText.front(), "Цистерны основного топлива|ТТ-1|12-18|4560");
  EXPECT_EQ(Summary()[1], "Просмотрено строк: 22");
}

// A file with one finding of each kind; the report counts lines from 1.
const std::vector<std::string> kFindingsFile = {
    Line({"Танк"}),                                         // 1: header
    DataLine("А-1", "12,5 м3"),                             // 2: Volume (F) does not convert
    DataLine("А-2"),                                        // 3: clean
    Line({"Итого", "всего", "", "", "", "99,5"}),           // 4: column B filled: skipped
    DataLine("А-3") + "\t\t \t",                            // 5: blank surplus cells lose nothing
    DataLine("А-4") + "\tлишнее",                           // 6: a surplus cell in column V
    Line({"А-5", "", "1", "ЛБ", "2", "1 234,5", "1e400"}),  // 7: F and G do not convert
};

const std::vector<std::string> kFindingsBlock = {
    "Отчёт о чтении файла (строки считаются с 1):",
    "Не преобразовано ячеек: 3",
    "  строка 2, столбец F (Volume): «12,5 м3» -> NULL",
    "  строка 7, столбец F (Volume): «1 234,5» -> NULL",
    "  строка 7, столбец G (Fperm): «1e400» -> NULL",
    "Пропущено строк с заполненным столбцом B: 1",
    "  строка 4: «Итого»",
    "Строк с лишними ячейками (не прочитаны): 1; первые строки: 6",
};

TEST_P(ImportRuns, ReportBlockFollowsTheSummaryOfEitherRun) {
  WriteSvod(Lines(kFindingsFile));
  for (bool throughTable : {false, true}) {
    SCOPED_TRACE(throughTable ? "through the table" : "by SQL");
    host_.log.clear();
    app::ImportReport report;
    std::vector<app::ReportEntry> all;
    report.onEntry = [&all](const app::ReportEntry& e) { all.push_back(e); };
    app::ImportTarget t = Target();
    t.report = &report;
    ASSERT_EQ(
        throughTable ? app::ImportThroughTable(host_, t, true) : app::ImportBySQL(host_, t, true),
        app::RunEnd::Completed);
    const auto rule = std::find(host_.log.begin(), host_.log.end(), kSummaryRule);
    ASSERT_NE(rule, host_.log.end());
    EXPECT_EQ(After(host_.log, static_cast<std::size_t>(rule - host_.log.begin()) + 4),
              kFindingsBlock);
    EXPECT_EQ(Summary()[2], "Добавлено записей: 5");
    EXPECT_EQ(report.Summary(),
              "Отчёт: не преобразовано ячеек: 3; пропущено строк со столбцом B: 1; строк с "
              "лишними ячейками: 1");
    EXPECT_EQ((std::vector<int>{report.blankLines, report.headerLines, report.dataLines,
                                report.skippedLines}),
              (std::vector<int>{0, 1, 5, 1}));
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(app::ReportEntryLine(all[0]), "unconverted\t2\t6\tF\tVolume\t12,5 м3\tNULL");
    EXPECT_EQ(app::ReportEntryLine(all[1]), "skipped-column-b\t4\t1\tA\tDesignation\tИтого\t");
    EXPECT_EQ(app::ReportEntryLine(all[2]), "surplus-cells\t6\t22\tV\t\tлишнее\t");
  }
  // The cells that did not convert are stored as NULL.
  EXPECT_EQ(Count(database(), "SELECT COUNT(*) FROM FromExcel WHERE Volume IS NULL"), 4);
}

TEST_P(ImportRuns, CleanFileLogEndsWithTheSummary) {
  WriteSvod(Lines({Line({"Танк"}), DataLine("А-1"), "", DataLine("А-2") + "\t\t"}));
  for (bool throughTable : {false, true}) {
    SCOPED_TRACE(throughTable ? "through the table" : "by SQL");
    host_.log.clear();
    app::ImportReport report;
    app::ImportTarget t = Target();
    t.report = &report;
    ASSERT_EQ(
        throughTable ? app::ImportThroughTable(host_, t, true) : app::ImportBySQL(host_, t, true),
        app::RunEnd::Completed);
    // The deleted rows and two diagnosed lines by SQL; nothing but the summary after.
    ASSERT_EQ(host_.log.size(), throughTable ? 4u : 1u + 2 * 3 + 4);
    EXPECT_EQ(host_.log[host_.log.size() - 4], kSummaryRule);
    EXPECT_FALSE(report.HasFindings());
    EXPECT_EQ(report.Summary(), "");
  }
}

TEST_P(ImportRuns, FileWithoutDataLinesWarnsAndNamesTheDeletedRows) {
  WriteSvod(Lines({DataLine("А-1"), DataLine("А-2")}));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  // Separated by semicolons by mistake: every line is one cell, a header.
  WriteSvod("А-1;;12-18;ЛБ;2;10,5\r\nА-2;;12-18;ЛБ;2;10,5\r\n");

  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  EXPECT_EQ(host_.log.back(),
            "Внимание: в файле нет строк данных. Прежние записи проекта TOrva_1 удалены: 2");
  host_.log.clear();
  ASSERT_EQ(ThroughTable(), app::RunEnd::Completed);
  EXPECT_EQ(host_.log.back(), "Внимание: в файле нет строк данных.");
  EXPECT_EQ(host_.log[host_.log.size() - 2], "Отчёт о чтении файла (строки считаются с 1):");
}

TEST_P(ImportRuns, ReportKeepsTheFirstTenEntriesAndCountsAll) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 12; ++i) lines.push_back(DataLine("Б-" + std::to_string(i), "x"));
  // A long cell is cut in the log, at a character boundary; the report keeps it whole.
  std::string longCell = "x";
  for (int i = 0; i < 60; ++i) longCell += "д";  // byte 80 falls inside a letter
  lines[0] = DataLine("Б-1", longCell);
  WriteSvod(Lines(lines));
  app::ImportReport report;
  int heard = 0;
  std::string firstText;
  report.onEntry = [&](const app::ReportEntry& e) {
    if (heard++ == 0) firstText = e.text;
  };
  app::ImportTarget t = Target();
  t.report = &report;
  ASSERT_EQ(app::ImportBySQL(host_, t, true), app::RunEnd::Completed);
  EXPECT_EQ(heard, 12);
  EXPECT_EQ(report.unconverted, 12);
  EXPECT_EQ(report.firstUnconverted.size(), 10u);
  EXPECT_EQ(host_.log[host_.log.size() - 2], "  строка 10, столбец F (Volume): «x» -> NULL");
  EXPECT_EQ(host_.log.back(), "  ... и ещё 2");
  EXPECT_EQ(firstText, longCell);
  const auto first = std::find(host_.log.begin(), host_.log.end(), "Не преобразовано ячеек: 12");
  ASSERT_NE(first, host_.log.end());
  EXPECT_EQ(*(first + 1),
            "  строка 1, столбец F (Volume): «" + longCell.substr(0, 79) + "…» -> NULL");
}

TEST_P(ImportRuns, StrictRunRefusesBeforeAnythingChanges) {
  WriteSvod(Lines({DataLine("Старая-1"), DataLine("Старая-2")}));
  ASSERT_EQ(BySQL(), app::RunEnd::Completed);
  const std::vector<std::string> before = Designations();

  struct Case {
    std::string name;
    std::vector<std::string> file;
    std::string entry;  // expected in the message
  };
  const Case cases[] = {
      {"unconverted cells", kFindingsFile, "  строка 2, столбец F (Volume): «12,5 м3» -> NULL"},
      {"a column-B line", {DataLine("А-1"), Line({"Итого", "всего", "1"})}, "  строка 2: «Итого»"},
      {"no data lines", {"", Line({"Танк"})}, "Внимание: в файле нет строк данных."},
  };
  for (const Case& c : cases) {
    for (bool throughTable : {false, true}) {
      SCOPED_TRACE(c.name + (throughTable ? " through the table" : " by SQL"));
      WriteSvod(Lines(c.file));
      app::ImportTarget t = Target();
      t.strict = true;
      try {
        throughTable ? app::ImportThroughTable(host_, t, true) : app::ImportBySQL(host_, t, true);
        ADD_FAILURE() << "the strict run went through";
      } catch (const Exception& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("Файл не загружен (--strict)", 0), 0u) << message;
        EXPECT_NE(message.find(c.entry), std::string::npos) << message;
        EXPECT_NE(message.find(throughTable ? "Ничего не добавлено." : app::kRolledBackNote),
                  std::string::npos)
            << message;
      }
      EXPECT_EQ(Designations(), before);
      EXPECT_EQ(lines_.Count(), 0);
    }
  }
  // A clean file goes through a strict run as through any other.
  WriteSvod(Lines({Line({"Танк"}), DataLine("Новая-1")}));
  app::ImportTarget t = Target();
  t.strict = true;
  EXPECT_EQ(app::ImportThroughTable(host_, t, true), app::RunEnd::Completed);
  EXPECT_EQ(app::ImportBySQL(host_, t, true), app::RunEnd::Completed);
  EXPECT_EQ(Designations(), std::vector<std::string>{"Новая-1"});
}

INSTANTIATE_TEST_SUITE_P(Engines, ImportRuns,
                         ::testing::Values(db::Engine::SQLite, db::Engine::PostgreSQL), EngineName);

// A dry run needs no database: it logs what the chosen run would log, without the
// database counts, then the report and the line counts.
TEST(DryRun, LogsTheRunWithoutDatabaseCounts) {
  TempDir dir;
  WriteFile(dir.File("svod.txt"), Lines(kFindingsFile));
  const std::vector<std::string> counts = {"Пустых строк: 0", "Строк заголовков: 1",
                                           "Строк данных: 5", "Пропущено строк: 1"};
  for (bool bySQL : {true, false}) {
    SCOPED_TRACE(bySQL ? "by SQL" : "through the table");
    RecordingHost host;
    host.times = {kJune1, kJune1, kJune1 + 0.5 / 86400.0};
    TStringList lines;
    std::string lastXlsFile;
    app::ImportReport report;
    app::DryRunSource source{lines, lastXlsFile, dir.File("svod.txt"), {}, &report, {}};
    ASSERT_EQ(app::DryRun(host, source, true, bySQL), app::RunEnd::Completed);
    ASSERT_FALSE(host.log.empty());
    EXPECT_EQ(host.log[0], "Пробный запуск: база данных не открывается, ничего не записывается.");
    // By SQL: the statements of the first five data lines, headed by their 0-based index.
    const std::size_t statements = bySQL ? 5 * 3 : 0;
    if (bySQL) {
      EXPECT_EQ(host.log[1], "1 " + std::string(60, '-'));
      EXPECT_EQ(host.log[2].rfind("Insert Into FromExcel \n(Tank ,Designation", 0), 0u);
    }
    std::vector<std::string> expected = {kSummaryRule, "Просмотрено строк: 7",
                                         "Время выполнения:  0.500 сек"};
    expected.insert(expected.end(), kFindingsBlock.begin(), kFindingsBlock.end());
    expected.insert(expected.end(), counts.begin(), counts.end());
    EXPECT_EQ(After(host.log, 1 + statements), expected);
    EXPECT_TRUE(report.Refused());
    EXPECT_EQ(lines.Count(), 0);
  }
  // No data: the SQL run would have deleted the project's rows.
  WriteFile(dir.File("svod.txt"), "\r\n");
  RecordingHost host;
  TStringList lines;
  std::string lastXlsFile;
  app::DryRunSource source{lines, lastXlsFile, dir.File("svod.txt"), {}, nullptr, {}};
  ASSERT_EQ(app::DryRun(host, source, true, true), app::RunEnd::Completed);
  EXPECT_NE(std::find(host.log.begin(), host.log.end(),
                      "Внимание: в файле нет строк данных. Запуск удалил бы прежние записи "
                      "проекта TOrva_1."),
            host.log.end());
}

TEST(DryRun, WorkbookTextGoesToAPrivateTemporaryFileRemovedAfterwards) {
  sheet::RegisterNativeEngine();
  TempDir dir;
  const std::string workbook = dir.File("tanks.xlsx");
  std::filesystem::copy_file(SourcePath("examples/tanks.xlsx"), workbook);
  std::filesystem::create_directory(dir.File("tmp"));
  testsupport::ScopedEnv tmp("TMPDIR", dir.File("tmp").c_str());
  RecordingHost host;
  host.choice = workbook;
  TStringList lines;
  std::string lastXlsFile = workbook;
  app::ImportReport report;
  app::DryRunSource source{lines, lastXlsFile, {}, {}, &report, {}};

  ASSERT_EQ(app::DryRun(host, source, false, true), app::RunEnd::Completed);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(report.dataLines, 10);
  EXPECT_FALSE(std::filesystem::exists(dir.File("tanks.txt")));
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("tmp")));
}

}  // namespace
