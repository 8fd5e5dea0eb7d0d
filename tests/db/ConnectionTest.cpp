// Connection strings, providers and the ways a database can fail to open.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "db/Database.h"
#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::ErrorOf;
using testsupport::ReadFile;
using testsupport::Scalar;
using testsupport::SqliteString;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ConnectionString, ParsesPairs) {
  struct Case {
    const char* name;
    const char* text;
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      {"plain",
       "Provider=SQLite;Data Source=a.db",
       {{"PROVIDER", "SQLite"}, {"DATA SOURCE", "a.db"}}},
      {"blanks around names and values",
       " Provider = SQLite ; User ID = Admin ;",
       {{"PROVIDER", "SQLite"}, {"USER ID", "Admin"}}},
      {"empty quoted value", "Password=\"\";Mode=x", {{"PASSWORD", ""}, {"MODE", "x"}}},
      {"quoted value keeps ; and doubled quotes",
       "Password=\"a;b\"\"c\"",
       {{"PASSWORD", "a;b\"c"}}},
      {"single quotes", "Password='it''s'", {{"PASSWORD", "it's"}}},
      {"quote inside a name is no quoting",
       "Jet OLEDB:Don't Copy=False",
       {{"JET OLEDB:DON'T COPY", "False"}}},
      {"empty pairs skipped", ";;Provider=x;;", {{"PROVIDER", "x"}}},
      {"value with =", "Data Source=a=b", {{"DATA SOURCE", "a=b"}}},
      {"the last of repeated names holds", "Port=1;port=2", {{"PORT", "2"}}},
      {"empty text", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(db::ConnectionString::Parse(c.text).values, c.expected);
  }
  EXPECT_EQ(db::ConnectionString::Parse("User ID=Admin").Get("user id"), "Admin");
  EXPECT_EQ(db::ConnectionString::Parse("").Get("Port", "5432"), "5432");
}

TEST(ConnectionString, RejectsMalformedTextWithoutShowingValues) {
  struct Case {
    const char* name;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"pair without =", "Provider=SQLite;Secret", "\"Secret\" has no value"},
      {"no name", "=hunter2", "pair 1 has no name"},
      {"unclosed quote", "Password=\"hunter2", "the value of \"Password\" has no closing quote"},
      {"text after quotes", "Password=\"hunter2\"x;a=b", "text after the quoted value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = ErrorOf([&] { db::ConnectionString::Parse(c.text); });
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_EQ(message.find("hunter2"), std::string::npos) << message;
  }
}

TEST(ConnectionString, DesignTimeStringHasTheNineteenPairsInOrder) {
  const std::string text = db::DesignTimeConnectionString;
  const std::vector<std::string> expected = {
      "Provider=Microsoft.Jet.OLEDB.4.0",
      "Password=\"\"",
      "User ID=Admin",
      "Data Source=dunvik.mdb",
      "Mode=Share Deny None",
      "Extended Properties=\"\"",
      "Jet OLEDB:System database=\"\"",
      "Jet OLEDB:Registry Path=\"\"",
      "Jet OLEDB:Database Password=\"\"",
      "Jet OLEDB:Engine Type=5",
      "Jet OLEDB:Database Locking Mode=0",
      "Jet OLEDB:Global Partial Bulk Ops=2",
      "Jet OLEDB:Global Bulk Transactions=1",
      "Jet OLEDB:New Database Password=\"\"",
      "Jet OLEDB:Create System Database=False",
      "Jet OLEDB:Encrypt Database=False",
      "Jet OLEDB:Don't Copy Locale on Compact=False",
      "Jet OLEDB:Compact Without Replica Repair=False",
      "Jet OLEDB:SFP=False",
  };
  std::vector<std::string> pairs;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find(';', start);
    pairs.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  EXPECT_EQ(pairs, expected);
  const db::ConnectionString parsed = db::ConnectionString::Parse(text);
  EXPECT_EQ(parsed.values.size(), expected.size());
  EXPECT_EQ(parsed.Get("Password"), "");
  EXPECT_EQ(parsed.Get("Data Source"), "dunvik.mdb");
}

TEST(Connection, ProvidersSelectTheirEngine) {
  struct Case {
    const char* name;
    const char* text;
    db::Engine expected;
  };
  const Case cases[] = {
      {"Jet", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=a.mdb", db::Engine::SQLite},
      {"ACE 12", "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=a.accdb", db::Engine::SQLite},
      {"ACE 16", "Provider=microsoft.ace.oledb.16.0;Data Source=a.accdb", db::Engine::SQLite},
      {"SQLite", "Provider=SQLite;Data Source=a.db", db::Engine::SQLite},
      {"PostgreSQL", "Provider=PostgreSQL;Data Source=h/d", db::Engine::PostgreSQL},
      {"ODBC", "Provider=ODBC;DSN=x", db::Engine::ODBC},
      {"ADO's ODBC provider", "Provider=MSDASQL;DSN=x", db::Engine::ODBC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db::Connection connection(c.text);
    EXPECT_EQ(connection.engine(), c.expected);
    EXPECT_FALSE(connection.Connected());
  }
}

TEST(Connection, DescribesTheDatabaseWithoutItsPassword) {
  struct Case {
    const char* name;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"server source", "Provider=PostgreSQL;Data Source=db.example:5433/ships;Password=pw1",
       "PostgreSQL database ships on db.example:5433"},
      {"separate pairs", "Provider=PostgreSQL;Host=h;Port=5432;Initial Catalog=c;Password=pw1",
       "PostgreSQL database c on h:5432"},
      {"IPv6 host", "Provider=PostgreSQL;Data Source=[::1]:5432/d",
       "PostgreSQL database d on ::1:5432"},
      {"no host", "Provider=PostgreSQL;Database=d", "PostgreSQL database d on localhost"},
      {"ODBC", "Provider=ODBC;Data Source=Ships;Password=pw1", "ODBC data source Ships"},
      {"SQLite", "Provider=SQLite;Data Source=x.db", "SQLite database x.db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(db::Connection(c.text).Describe(), c.expected);
  }
}

TEST(Connection, RefusesUnknownOrMissingProvider) {
  struct Case {
    const char* name;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"unknown", "Provider=SQLOLEDB.1;Password=pw123;Data Source=srv",
       "Unknown database provider \"SQLOLEDB.1\""},
      {"missing", "Data Source=a.db;Password=pw123", "names no database provider"},
      {"bad busy timeout", "Provider=SQLite;Data Source=a;Busy Timeout=soon;Password=pw123",
       "\"Busy Timeout\" must be a whole number"},
      {"bad command timeout",
       "Provider=PostgreSQL;Data Source=h/d;Command Timeout=-1;Password=pw123",
       "\"Command Timeout\" must be a whole number from 0 to 86400"},
      {"command timeout too long", "Provider=SQLite;Data Source=a;Command Timeout=86401",
       "\"Command Timeout\" must be a whole number from 0 to 86400"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = ErrorOf([&] { db::Connection connection(c.text); });
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_EQ(message.find("pw123"), std::string::npos) << message;
  }
}

// Each file that must not be opened as a database: the error names the file and the
// reason, and the file is left exactly as it was.
TEST(Connection, RefusesFilesThatAreNoSqliteDatabase) {
  std::string jet(2048, '\0');
  jet.replace(4, 15, "Standard Jet DB");
  std::string ace(4096, '\0');
  ace.replace(4, 15, "Standard ACE DB");
  std::string damaged(std::string("SQLite format 3") + '\0' + std::string(4080, '\x5a'));
  struct Case {
    const char* name;
    std::string content;
    const char* expected;
  };
  const Case cases[] = {
      {"Jet (Access 97-2003)", jet, "is a Microsoft Access database"},
      {"ACE (Access 2007 and later)", ace, "is a Microsoft Access database"},
      {"empty file", "", "the file is empty, not a database"},
      {"text file", "Tank\tFrame\n", "the file is not an SQLite database"},
      {"short header", "SQLite", "the file is not an SQLite database"},
      {"damaged database", damaged, "file is not a database"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("case.mdb");
    WriteFile(path, c.content);
    db::Connection connection(SqliteString(path));
    const std::string message = ErrorOf([&] { connection.Open(); });
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(ReadFile(path), c.content);
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
  }
}

TEST(Connection, MissingFileOrDirectoryIsNotCreated) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string path;
    const char* expected;
  };
  std::filesystem::create_directory(dir.path() / "folder.db");
  const Case cases[] = {
      {"missing file", dir.File("missing.db"), "the file does not exist"},
      {"missing directory", dir.File("nowhere/missing.db"), "the file does not exist"},
      {"directory", dir.File("folder.db"), "this is a directory, not a database file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db::Connection connection(SqliteString(c.path));
    const std::string message = ErrorOf([&] { connection.Open(); });
    EXPECT_EQ(message, "SQLite database " + c.path + ": " + c.expected);
    EXPECT_EQ(std::filesystem::exists(c.path), c.path == dir.File("folder.db"));
  }
}

// The design-time string names "dunvik.mdb" without a directory: it is looked for in
// the current directory, and a missing one is reported with the full path.
TEST(Connection, DataSourceIsResolvedAgainstTheCurrentDirectory) {
  TempDir dir;
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  {
    db::Connection missing(db::DesignTimeConnectionString);
    const std::string message = ErrorOf([&] { missing.Open(); });
    EXPECT_EQ(message, "SQLite database " + dir.File("dunvik.mdb") + ": the file does not exist");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "dunvik.mdb"));

    db::Connection("Provider=SQLite;Data Source=dunvik.mdb").Open(true);
    db::Connection designTime(db::DesignTimeConnectionString);
    designTime.Open();
    EXPECT_TRUE(designTime.Connected());
    EXPECT_EQ(designTime.Describe(), "SQLite database " + dir.File("dunvik.mdb"));
  }
  std::filesystem::current_path(saved);
}

TEST(Connection, CreatesANewFileOnlyWhenAsked) {
  TempDir dir;
  const std::string path = dir.File("new.db");
  {
    db::Connection connection(SqliteString(path));
    connection.Open(true);
    EXPECT_TRUE(connection.Connected());
  }
  EXPECT_EQ(ReadFile(path).substr(0, 15), "SQLite format 3");

  // An existing file, database or not, is never taken over by the create command.
  const std::string other = dir.File("other.txt");
  WriteFile(other, "keep me");
  for (const std::string& existing : {path, other}) {
    SCOPED_TRACE(existing);
    const std::string before = ReadFile(existing);
    db::Connection connection(SqliteString(existing));
    const std::string message = ErrorOf([&] { connection.Open(true); });
    EXPECT_NE(message.find("the file exists already"), std::string::npos) << message;
    EXPECT_EQ(ReadFile(existing), before);
  }

  db::Connection nowhere(SqliteString(dir.File("nowhere/new.db")));
  const std::string message = ErrorOf([&] { nowhere.Open(true); });
  EXPECT_NE(message.find("cannot create the file"), std::string::npos) << message;
}

TEST(Connection, SqliteSettings) {
  TempDir dir;
  db::Connection connection(SqliteString(dir.File("s.db")) + ";Busy Timeout=1234");
  connection.Open(true);
  const QSqlDatabase database = connection.Database();
  EXPECT_EQ(Scalar(database, "PRAGMA foreign_keys").toInt(), 1);
  EXPECT_EQ(Scalar(database, "PRAGMA journal_mode").toString(), "wal");
  EXPECT_EQ(Scalar(database, "PRAGMA synchronous").toInt(), 1);  // NORMAL
  EXPECT_EQ(Scalar(database, "PRAGMA busy_timeout").toInt(), 1234);

  db::Connection defaults(SqliteString(dir.File("s.db")));
  defaults.Open();
  EXPECT_EQ(Scalar(defaults.Database(), "PRAGMA busy_timeout").toInt(), 5000);
}

// A file that another program is writing to cannot be switched to write-ahead logging
// at that moment: it opens with its own journal, synchronised on every commit.
TEST(Connection, KeepsTheJournalOfAFileBusyElsewhere) {
  TempDir dir;
  const std::string path = dir.File("busy.db");
  {
    QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other-program");
    other.setDatabaseName(QString::fromStdString(path));
    ASSERT_TRUE(other.open());
    testsupport::Exec(other, "CREATE TABLE t (x integer)");
    testsupport::Exec(other, "BEGIN IMMEDIATE");
    testsupport::Exec(other, "INSERT INTO t VALUES (1)");

    db::Connection connection(SqliteString(path) + ";Busy Timeout=100");
    connection.Open();
    EXPECT_EQ(Scalar(connection.Database(), "PRAGMA journal_mode").toString(), "delete");
    EXPECT_EQ(Scalar(connection.Database(), "PRAGMA synchronous").toInt(), 2);  // FULL
    EXPECT_EQ(Scalar(connection.Database(), "SELECT count(*) FROM t").toInt(), 0);
    testsupport::Exec(other, "COMMIT");
    other.close();
  }
  QSqlDatabase::removeDatabase("other-program");
}

TEST(Connection, EachConnectionHasItsOwnQtConnection) {
  TempDir dir;
  db::Connection("Provider=SQLite;Data Source=" + dir.File("a.db")).Open(true);
  QString nameA;
  {
    db::Connection a(SqliteString(dir.File("a.db")));
    db::Connection b(SqliteString(dir.File("a.db")));
    const QString before = a.Database().connectionName();  // exists before Open already
    EXPECT_FALSE(before.isEmpty());
    a.Open();
    EXPECT_EQ(a.Database().connectionName(), before);
    b.Open();
    nameA = a.Database().connectionName();
    EXPECT_NE(nameA, b.Database().connectionName());
    EXPECT_TRUE(QSqlDatabase::contains(nameA));
    a.Close();
    EXPECT_FALSE(a.Connected());
    EXPECT_TRUE(b.Connected());
    a.Open();  // reopens on the same Qt connection
    EXPECT_TRUE(a.Connected());
  }
  EXPECT_FALSE(QSqlDatabase::contains(nameA));
}

TEST(Connection, OdbcWithoutItsPluginIsAClearError) {
  if (QSqlDatabase::isDriverAvailable("QODBC")) GTEST_SKIP() << "the QODBC plugin is installed";
  db::Connection connection("Provider=ODBC;DSN=Ships;User ID=u;Password=pw123");
  const std::string message = ErrorOf([&] { connection.Open(); });
  EXPECT_EQ(message,
            "ODBC data source Ships: the ODBC driver of Qt (the QODBC plugin) is not installed");
}

TEST(Connection, PostgresWithoutDatabaseOrWithBadPort) {
  struct Case {
    const char* name;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"no database", "Provider=PostgreSQL;Host=127.0.0.1;Password=pw123", "no database is named"},
      {"bad port", "Provider=PostgreSQL;Data Source=127.0.0.1:http/d;Password=pw123",
       "the port \"http\" is not a valid port number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db::Connection connection(c.text);
    const std::string message = ErrorOf([&] { connection.Open(); });
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_EQ(message.find("pw123"), std::string::npos) << message;
  }
}

TEST(Connection, PostgresLoginAndRefusals) {
  TANKLOAD_REQUIRE_PG();
  const db::ConnectionString good = db::ConnectionString::Parse(testsupport::PgConnectionString());
  {
    db::Connection connection(testsupport::PgConnectionString());
    connection.Open();
    EXPECT_TRUE(connection.Connected());
    EXPECT_EQ(connection.engine(), db::Engine::PostgreSQL);
    EXPECT_EQ(Scalar(connection.Database(), "SHOW standard_conforming_strings").toString(), "on");
  }
  // The same server through the separate pairs.
  {
    const std::string source = good.Get("Data Source");
    const std::size_t colon = source.find(':');
    const std::size_t slash = source.find('/');
    db::Connection connection("Provider=PostgreSQL;Host=" + source.substr(0, colon) +
                              ";Port=" + source.substr(colon + 1, slash - colon - 1) +
                              ";Initial Catalog=" + source.substr(slash + 1) + ";User ID=" +
                              good.Get("User ID") + ";Password=" + good.Get("Password"));
    connection.Open();
    EXPECT_TRUE(connection.Connected());
  }
  struct Case {
    const char* name;
    std::string text;
    const char* expected;
  };
  const std::string base = "Provider=PostgreSQL;Data Source=" + good.Get("Data Source");
  const Case cases[] = {
      {"wrong password", base + ";User ID=" + good.Get("User ID") + ";Password=Wr0ngSecret",
       "password authentication failed"},
      {"unknown database",
       "Provider=PostgreSQL;Data Source=" +
           good.Get("Data Source").substr(0, good.Get("Data Source").find('/')) +
           "/no_such_db;User ID=" + good.Get("User ID") + ";Password=Wr0ngSecret",
       "cannot connect"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db::Connection connection(c.text);
    const std::string message = ErrorOf([&] { connection.Open(); });
    EXPECT_EQ(message.rfind(connection.Describe() + ": cannot connect", 0), 0u) << message;
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_EQ(message.find("Wr0ngSecret"), std::string::npos) << message;
    EXPECT_FALSE(connection.Connected());
  }
}

}  // namespace

namespace {

// The window destroys its components in its own order: a query or table that outlives
// its connection reports that instead of reaching freed memory.
TEST(Connection, QueryAndTableOutlivingTheirConnection) {
  TempDir dir;
  auto connection = std::make_unique<db::Connection>(SqliteString(dir.File("o.db")));
  connection->Open(true);
  db::CreateSchema(*connection);
  db::Query query(*connection);
  query.SetSQL("Insert Into FromExcel (Tank) Values ('a')");
  EXPECT_EQ(query.ExecSQL(), 1);
  db::Table table(*connection);
  table.SetTableName("FromExcel");
  table.Open();
  table.Insert();
  table.FindField("Tank")->SetValue("b");
  table.Post();
  table.Insert();
  connection.reset();
  EXPECT_EQ(ErrorOf([&] { query.ExecSQL(); }), "The database connection no longer exists");
  EXPECT_EQ(ErrorOf([&] { table.Post(); }), "The database connection no longer exists");
  table.Close();
  EXPECT_EQ(ErrorOf([&] { table.Open(); }), "The database connection no longer exists");
}

}  // namespace
