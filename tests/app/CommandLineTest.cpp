// The command line: parsing, exit status, output streams, and the program itself.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "AppTestSupport.h"
#include "app/CommandLine.h"
#include "platform/Text.h"
#include "sheet/Engine.h"

using namespace apptest;

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunTankload(const std::vector<std::string>& args,
                    const std::string& programDirectory = "/") {
  EnsureApplication();
  QStringList arguments{"tankload"};
  for (const std::string& a : args) arguments << QString::fromStdString(a);
  app::CommandEnvironment environment;
  environment.programDirectory = programDirectory;
  std::ostringstream out;
  std::ostringstream err;
  const int status = app::RunCommand(app::ParseCommandLine(arguments), environment, out, err);
  return {status, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs a shell command; its standard output and the exit status (-1: no normal exit).
std::pair<int, std::string> Shell(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, {}};
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int raw = ::pclose(pipe);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

TEST(CommandLine, ParsesCommandsAndOptions) {
  using Kind = app::Command::Kind;
  struct Case {
    std::string name;
    std::vector<std::string> args;
    Kind kind;
    std::string file;
  };
  const Case cases[] = {
      {"nothing opens the window", {}, Kind::Window, ""},
      {"database alone opens the window",
       {"--database", "Provider=SQLite;Data Source=x.db"},
       Kind::Window,
       ""},
      {"text with its default", {"--from-text"}, Kind::FromText, ""},
      {"text with a file", {"--from-text", "/data/svod.txt"}, Kind::FromText, "/data/svod.txt"},
      {"file before the option",
       {"/data/svod.txt", "--from-text"},
       Kind::FromText,
       "/data/svod.txt"},
      {"workbook",
       {"--from-excel", "t.xlsx", "--sheet", "Лист2", "--through-table"},
       Kind::FromExcel,
       "t.xlsx"},
      {"show with its default", {"--show"}, Kind::Show, "FromExcel"},
      {"show a table", {"--show", "Stability_Elements"}, Kind::Show, "Stability_Elements"},
      {"create", {"--create-database"}, Kind::CreateDatabase, ""},
      {"help", {"--help", "--from-text"}, Kind::Help, ""},
      {"version", {"-v"}, Kind::Version, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList arguments{"tankload"};
    for (const std::string& a : c.args) arguments << QString::fromStdString(a);
    const app::Command command = app::ParseCommandLine(arguments);
    EXPECT_EQ(command.kind, c.kind) << command.error;
    EXPECT_EQ(command.file, c.file);
  }
  const app::Command excel = app::ParseCommandLine(
      {"tankload", "--from-excel", "t.xlsx", "--sheet", "Лист2", "--through-table",
       "--decimal-separator", ",", "--database", "Provider=SQLite;Data Source=a.db"});
  EXPECT_EQ(excel.sheet, "Лист2");
  EXPECT_TRUE(excel.throughTable);
  EXPECT_EQ(excel.decimalSeparator, ',');
  EXPECT_EQ(excel.connectionString, "Provider=SQLite;Data Source=a.db");
  EXPECT_EQ(app::ParseCommandLine({"tankload", "--show"}).connectionString,
            db::DesignTimeConnectionString);
}

TEST(CommandLine, BadUsageExitsWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--from-text", "--show"},
      {"--from-text", "a.txt", "b.txt"},
      {"--create-database", "extra"},
      {"--sheet", "Лист1", "--from-text"},
      {"--through-table", "--show"},
      {"--decimal-separator", "ab", "--from-text"},
      {"--decimal-separator", "5", "--from-text"},
      {"--from-excel"},
      {"stray"},
      {"--dry-run"},
      {"--strict", "--show"},
      {"--report", "r.tsv", "--create-database"},
      {"--from-text", "--report", ""},
      {"--project", "Корабль", "--show"},
      {"--lpp", "150"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.front());
    const Outcome o = RunTankload(args);
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.out.empty());
    EXPECT_TRUE(Contains(o.err, "tankload --help")) << o.err;
  }
}

TEST(CommandLine, HelpAndVersion) {
  const Outcome help = RunTankload({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--create-database", "--from-text", "--from-excel", "--sheet",
                             "--through-table", "--database", "--decimal-separator", "--show",
                             "--report", "--dry-run", "--strict", "--project", "--lpp"}) {
    EXPECT_TRUE(Contains(help.out, option)) << option;
  }
  const Outcome version = RunTankload({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tankload ", 0), 0u);
}

class CommandLineOnSqlite : public ::testing::Test {
 protected:
  std::string Conn() const { return SqliteString(dir_.File("dunvik.mdb")); }
  Outcome RunWith(std::vector<std::string> args) {
    args.push_back("--database");
    args.push_back(Conn());
    return RunTankload(args, dir_.Dir());
  }
  TempDir dir_;
};

TEST_F(CommandLineOnSqlite, CreateImportAndShow) {
  const Outcome created = RunWith({"--create-database"});
  ASSERT_EQ(created.status, 0) << created.err;
  EXPECT_TRUE(Contains(created.out, "dunvik.mdb")) << created.out;
  // A second creation refuses the existing file.
  const Outcome again = RunWith({"--create-database"});
  EXPECT_EQ(again.status, 1);
  EXPECT_FALSE(again.err.empty());

  // svod.txt in the program's directory by default; log lines on standard output.
  WriteFile(dir_.File("svod.txt"),
            platform::Utf8ToWin1251(
                Lines({Line({"Танк"}), DataLine("А-1", "1,25"), "", DataLine("А-2", "2.5")})));
  const Outcome imported = RunWith({"--from-text", "--decimal-separator", ","});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out.rfind("Delete records: 0\n1 ----", 0), 0u) << imported.out;
  EXPECT_TRUE(Contains(imported.out, "Просмотрено строк: 4\nДобавлено записей: 2\n"));
  EXPECT_TRUE(Contains(imported.out, " сек\n"));
  EXPECT_TRUE(imported.err.empty()) << imported.err;

  const Outcome table = RunWith({"--from-text", dir_.File("svod.txt"), "--through-table"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out.rfind("=====", 0), 0u) << table.out;

  const Outcome shown = RunWith({"--show"});
  ASSERT_EQ(shown.status, 0) << shown.err;
  std::istringstream rows(shown.out);
  std::string header;
  std::getline(rows, header);
  EXPECT_EQ(header.rfind("ID\tTank\tDesignation\tFrame\tBoard\tDeck\tVolume\t", 0), 0u) << header;
  std::vector<std::string> lines;
  for (std::string l; std::getline(rows, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("1\tТанк\tА-1\t12-18\tЛБ\t2\t1.25\t", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("2\tТанк\tА-2\t12-18\tЛБ\t2\t2.5\t", 0), 0u) << lines[1];
  EXPECT_TRUE(Contains(lines[0], "\t142\tTOrva_1\t"));

  const Outcome other = RunWith({"--show", "stability_elements"});
  EXPECT_EQ(other.status, 0);
  EXPECT_EQ(other.out.rfind("ID\t", 0), 0u);
}

TEST_F(CommandLineOnSqlite, ProjectAndLppOverrideTheLayoutsConstants) {
  ASSERT_EQ(RunWith({"--create-database"}).status, 0);
  WriteFile(dir_.File("svod.txt"), Lines({Line({"Танк"}), DataLine("А-1"), DataLine("А-2")}));
  const auto rows = [&](const std::string& project) {
    std::vector<std::string> lpp;
    std::istringstream shown(RunWith({"--show"}).out);
    for (std::string l; std::getline(shown, l);) {
      const std::size_t at = l.find("\t" + project + "\t");
      if (at == std::string::npos) continue;
      lpp.push_back(l.substr(l.rfind('\t', at - 1) + 1, at - l.rfind('\t', at - 1) - 1));
    }
    return lpp;
  };

  ASSERT_EQ(RunWith({"--from-text"}).status, 0);
  const Outcome other = RunWith({"--from-text", "--project", " Корабль 7 ", "--lpp", "150"});
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(other.out.rfind("Delete records: 0\n", 0), 0u) << other.out;
  EXPECT_EQ(rows("Корабль 7"), (std::vector<std::string>{"150", "150"}));
  EXPECT_EQ(rows("TOrva_1"), (std::vector<std::string>{"142", "142"}));

  // The SQL run replaces the project it was given, and only that one.
  const Outcome again = RunWith({"--from-text", "--project=Корабль 7", "--lpp=151"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out.rfind("Delete records: 2\n", 0), 0u) << again.out;
  EXPECT_EQ(rows("Корабль 7"), (std::vector<std::string>{"151", "151"}));
  EXPECT_EQ(rows("TOrva_1"), (std::vector<std::string>{"142", "142"}));
  const Outcome table =
      RunWith({"--from-text", "--through-table", "--project", "Корабль 8", "--lpp", "9"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(rows("Корабль 8"), (std::vector<std::string>{"9", "9"}));

  // Refused before the database is touched, with exit status 2.
  const std::string before = ReadFile(dir_.File("dunvik.mdb"));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {"empty project", {"--project", ""}, "--project ждёт имя проекта"},
      {"blank project", {"--project", "   "}, "--project ждёт имя проекта"},
      {"tab in the project", {"--project", "a\tb"}, "--project ждёт имя проекта"},
      {"zero", {"--lpp", "0"}, "--lpp ждёт целое число больше нуля, а не «0»"},
      {"negative", {"--lpp", "-5"}, "а не «-5»"},
      {"plus sign", {"--lpp", "+5"}, "а не «+5»"},
      {"fraction", {"--lpp", "142.5"}, "а не «142.5»"},
      {"hexadecimal", {"--lpp", "$8E"}, "а не «$8E»"},
      {"beyond 32 bits", {"--lpp", "2147483648"}, "а не «2147483648»"},
      {"empty", {"--lpp", ""}, "а не «»"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* command : {"--from-text", "--through-table"}) {
      std::vector<std::string> args{"--from-text"};
      if (std::string(command) == "--through-table") args.push_back(command);
      args.insert(args.end(), c.args.begin(), c.args.end());
      const Outcome o = RunWith(args);
      EXPECT_EQ(o.status, 2);
      EXPECT_TRUE(o.out.empty()) << o.out;
      EXPECT_TRUE(Contains(o.err, c.message)) << o.err;
    }
  }
  EXPECT_EQ(ReadFile(dir_.File("dunvik.mdb")), before);
  EXPECT_EQ(RunTankload({"--from-text", "--lpp", "1", "--database", Conn()}, dir_.Dir()).status, 0);
}

TEST_F(CommandLineOnSqlite, RunsThatEndWithAMessageExitWithOne) {
  ASSERT_EQ(RunWith({"--create-database"}).status, 0);
  const std::string fifo = dir_.File("pipe.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string socketPath = dir_.File("sock.txt");
  const int listener = testsupport::BindUnixSocket(socketPath);
  ASSERT_GE(listener, 0) << std::strerror(errno);
  auto notRegular = [](const std::string& path, const std::string& kind) {
    return "Не могу прочитать файл <" + path + ">: это " + kind + ", а не обычный файл\n";
  };
  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {"no svod.txt", {"--from-text"}, "Не могу найти файл <" + dir_.File("svod.txt") + ">"},
      {"missing text file", {"--from-text", dir_.File("none.txt")}, "Не могу найти файл <"},
      {"missing workbook", {"--from-excel", dir_.File("none.xlsx")}, "Не могу найти файл <"},
      {"not a workbook", {"--from-excel", dir_.File("dunvik.mdb")}, ""},
      {"missing table", {"--show", "Nope"}, "Таблица <Nope> не найдена"},
      // Refused at once: /dev/zero would be read until memory runs out, a FIFO would wait.
      {"a device", {"--from-text", "/dev/zero"}, notRegular("/dev/zero", "символьное устройство")},
      {"a FIFO", {"--from-text", fifo}, notRegular(fifo, "именованный канал (FIFO)")},
      {"a socket", {"--from-text", socketPath, "--through-table"}, notRegular(socketPath, "сокет")},
  };
  sheet::RegisterNativeEngine();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = RunWith(c.args);
    EXPECT_EQ(o.status, 1);
    EXPECT_FALSE(o.err.empty());
    EXPECT_TRUE(Contains(o.err, c.message)) << o.err;
  }
  ::close(listener);
  // No database file: the error names it.
  const Outcome missing =
      RunTankload({"--show", "--database", SqliteString(dir_.File("none.mdb"))});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.err, "none.mdb")) << missing.err;
}

TEST_F(CommandLineOnSqlite, WorkbookBySheetName) {
  ASSERT_EQ(RunWith({"--create-database"}).status, 0);
  sheet::RegisterNativeEngine();
  const std::string workbook = dir_.File("tanks.xlsx");
  std::filesystem::copy_file(SourcePath("examples/tanks.xlsx"), workbook);
  const Outcome o = RunWith({"--from-excel", workbook, "--sheet", "Сводка"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(Contains(o.out, "Добавлено записей: 10\n")) << o.out;
  const Outcome wrongSheet = RunWith({"--from-excel", workbook, "--sheet", "Нет такого"});
  EXPECT_EQ(wrongSheet.status, 1);
  EXPECT_FALSE(wrongSheet.err.empty());
}

// A summary with a cell that does not convert and a line skipped for its column B.
std::string FileWithFindings() {
  return Lines({Line({"Танк"}), DataLine("Н-1", "12,5 м3"), DataLine("Н-2"),
                Line({"Итого", "всего", "", "", "", "99,5"})});
}

TEST_F(CommandLineOnSqlite, ReportFileListsEveryEntry) {
  ASSERT_EQ(RunWith({"--create-database"}).status, 0);
  std::vector<std::string> lines = {Line({"Танк"})};
  for (int i = 1; i <= 12; ++i) lines.push_back(DataLine("Н-" + std::to_string(i), "x"));
  lines.push_back(Line({"Итого", "всего", "1"}));
  WriteFile(dir_.File("svod.txt"), Lines(lines));
  const std::string report = dir_.File("report.tsv");

  const Outcome o = RunWith({"--from-text", "--report", report});
  ASSERT_EQ(o.status, 0) << o.err;
  // The log shows the first ten; the file holds all of them.
  EXPECT_TRUE(Contains(o.out, "Добавлено записей: 12\n")) << o.out;
  EXPECT_TRUE(Contains(o.out, "Не преобразовано ячеек: 12\n")) << o.out;
  EXPECT_TRUE(Contains(o.out, "  ... и ещё 2\n")) << o.out;
  std::istringstream text(ReadFile(report));
  std::vector<std::string> rows;
  for (std::string l; std::getline(text, l);) rows.push_back(l);
  ASSERT_EQ(rows.size(), 1u + 12 + 1);
  EXPECT_EQ(rows[0], "kind\tline (first line = 1)\tcolumn\tletter\tfield\ttext\tstored value");
  EXPECT_EQ(rows[1], "unconverted\t2\t6\tF\tVolume\tx\tNULL");
  EXPECT_EQ(rows[12], "unconverted\t13\t6\tF\tVolume\tx\tNULL");
  EXPECT_EQ(rows[13], "skipped-column-b\t14\t1\tA\tDesignation\tИтого\t");

  // A report that cannot be written fails the command, and says why.
  const Outcome unwritable =
      RunWith({"--from-text", "--report", dir_.File("no-such-dir/report.tsv")});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_TRUE(Contains(unwritable.err, "Не могу записать отчёт <")) << unwritable.err;
}

TEST_F(CommandLineOnSqlite, DryRunLeavesTheDatabaseAsItWasAndNeedsNone) {
  ASSERT_EQ(RunWith({"--create-database"}).status, 0);
  WriteFile(dir_.File("old.txt"), Lines({DataLine("Старая")}));
  ASSERT_EQ(RunWith({"--from-text", dir_.File("old.txt")}).status, 0);
  const std::string before = ReadFile(dir_.File("dunvik.mdb"));
  WriteFile(dir_.File("svod.txt"), FileWithFindings());

  for (const char* mode : {"", "--through-table"}) {
    SCOPED_TRACE(*mode ? mode : "by SQL");
    std::vector<std::string> args = {"--from-text", "--dry-run"};
    if (*mode) args.push_back(mode);
    const Outcome o = RunWith(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(Contains(o.out, "Delete records")) << o.out;
    EXPECT_FALSE(Contains(o.out, "Добавлено записей")) << o.out;
    EXPECT_TRUE(Contains(o.out,
                         "Не преобразовано ячеек: 1\n  строка 2, столбец F (Volume): "
                         "«12,5 м3» -> NULL\n"))
        << o.out;
    EXPECT_TRUE(Contains(o.out,
                         "Пустых строк: 0\nСтрок заголовков: 1\nСтрок данных: 2\n"
                         "Пропущено строк: 1\n"))
        << o.out;
    EXPECT_EQ(ReadFile(dir_.File("dunvik.mdb")), before);
  }
  // With --strict a dry run says whether the file would be refused.
  const Outcome refused = RunWith({"--from-text", "--dry-run", "--strict"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(Contains(refused.err, "Файл не загружен (--strict)")) << refused.err;
  WriteFile(dir_.File("clean.txt"), Lines({Line({"Танк"}), DataLine("Н-1")}));
  EXPECT_EQ(RunWith({"--from-text", dir_.File("clean.txt"), "--dry-run", "--strict"}).status, 0);
  EXPECT_EQ(ReadFile(dir_.File("dunvik.mdb")), before);

  // No database at all: none is needed, and none is made.
  const std::string nowhere = dir_.File("none.mdb");
  const Outcome alone = RunTankload(
      {"--from-text", dir_.File("svod.txt"), "--dry-run", "--database", SqliteString(nowhere)});
  EXPECT_EQ(alone.status, 0) << alone.err;
  EXPECT_TRUE(Contains(alone.out, "Строк данных: 2\n")) << alone.out;
  EXPECT_FALSE(std::filesystem::exists(nowhere));
}

TEST_F(CommandLineOnSqlite, StrictRunRefusesAndKeepsTheProjectsRows) {
  ASSERT_EQ(RunWith({"--create-database"}).status, 0);
  WriteFile(dir_.File("old.txt"), Lines({DataLine("Старая-1"), DataLine("Старая-2")}));
  ASSERT_EQ(RunWith({"--from-text", dir_.File("old.txt")}).status, 0);
  WriteFile(dir_.File("svod.txt"), FileWithFindings());
  const std::string report = dir_.File("refused.tsv");

  for (const char* mode : {"", "--through-table"}) {
    SCOPED_TRACE(*mode ? mode : "by SQL");
    std::vector<std::string> args = {"--from-text", "--strict", "--report", report};
    if (*mode) args.push_back(mode);
    const Outcome o = RunWith(args);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "Файл не загружен (--strict)")) << o.err;
    EXPECT_TRUE(Contains(o.err, "Не преобразовано ячеек: 1\n")) << o.err;
    EXPECT_TRUE(Contains(o.err, "Пропущено строк с заполненным столбцом B: 1\n  строка 4: «Итого»"))
        << o.err;
    // The report says why.
    EXPECT_TRUE(Contains(ReadFile(report), "unconverted\t2\t6\tF\tVolume\t12,5 м3\tNULL\n"));
    const Outcome shown = RunWith({"--show"});
    EXPECT_TRUE(Contains(shown.out, "\tСтарая-1\t")) << shown.out;
    EXPECT_TRUE(Contains(shown.out, "\tСтарая-2\t")) << shown.out;
    EXPECT_FALSE(Contains(shown.out, "Н-2")) << shown.out;
  }
}

// The program itself: the same commands through main(), without any display.
TEST(Program, RunsCommandsWithoutAWindow) {
  TempDir dir;
  struct Case {
    std::string name;
    std::string args;
    int status;
    std::string out;
  };
  const std::string db = "'--database=Provider=SQLite;Data Source=" + dir.File("t.mdb") + "'";
  const Case cases[] = {
      {"version", "--version", 0, "tankload "},
      {"bad usage", "--from-text --show", 2, ""},
      {"create", "--create-database " + db, 0, "t.mdb"},
      {"missing svod.txt beside the program", "--from-text " + db, 1, ""},
      {"show", "--show " + db, 0, "ID\tTank\t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= " + std::string(TANKLOAD_EXE) + " " +
        c.args + " 2>/dev/null";
    const auto [status, out] = Shell(command);
    EXPECT_EQ(status, c.status);
    EXPECT_TRUE(Contains(out, c.out)) << out;
  }
}

#if defined(__SANITIZE_ADDRESS__)
#define TANKLOAD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TANKLOAD_ASAN 1
#endif
#endif

// A text file too large for memory is refused by its size, before anything is read; and
// memory running out while a text is read ends with a message naming the file, never
// with the bare name of the exception. The file is sparse (8 GiB, no disk space used).
TEST(Program, LargeTextFileEndsWithAMessageNamingIt) {
  TempDir dir;
  const std::string db = "'--database=Provider=SQLite;Data Source=" + dir.File("t.mdb") + "'";
  const std::string exe =
      "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= " + std::string(TANKLOAD_EXE) + " ";
  ASSERT_EQ(std::system((exe + "--create-database " + db + " >/dev/null 2>&1").c_str()), 0);
  const std::string huge = dir.File("huge.txt");
  { std::ofstream(huge) << "x"; }
  std::filesystem::resize_file(huge, std::uintmax_t{8} << 30);

  struct Case {
    const char* name;
    std::string shellPrefix;
    std::string err;
  } cases[] = {
      {"the default size limit", "",
       "Не могу прочитать файл <" + huge +
           ">: в нём 8589934592 байт, больше предела 1073741824 байт "
           "(TANKLOAD_MAX_TEXT_BYTES)\n"},
      // The address space limited to 2 GiB, the size limit raised above the file.
      {"out of memory", "ulimit -v 2097152; TANKLOAD_MAX_TEXT_BYTES=17179869184 ",
       "Недостаточно памяти для чтения файла <" + huge + ">\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef TANKLOAD_ASAN
    if (!c.shellPrefix.empty()) continue;  // the sanitizer cannot run under ulimit -v
#endif
    const std::string command =
        c.shellPrefix + exe + "--from-text " + huge + " " + db + " 2>&1 >/dev/null";
    const auto [status, err] = Shell(command);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, c.err);
  }
}

}  // namespace
