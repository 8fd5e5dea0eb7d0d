// The connection to the database, the statement query and the transaction guard.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSqlDriver>
#include <QSqlQuery>
#include <QStringDecoder>
#include <QVariant>

#include "db/Database.h"
#include "db/Internal.h"

namespace db {

namespace detail {

std::string ToStd(const QString& s) {
  const QByteArray bytes = s.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString ToQt(std::string_view s) {
  // QString::fromUtf8 takes a byte order mark at the start for a signature and drops it;
  // inside a cell it is a character like any other.
  if (s.size() >= 3 && s.substr(0, 3) == "\xEF\xBB\xBF") {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
  }
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string ErrorText(const QSqlError& error) {
  QString text = error.databaseText().trimmed();
  if (text.isEmpty()) text = error.driverText().trimmed();
  // PostgreSQL adds lines that point into the statement; the statement is quoted by
  // the caller, so its first line is the message.
  const qsizetype lineEnd = text.indexOf('\n');
  if (lineEnd >= 0) text = text.left(lineEnd).trimmed();
  if (text.startsWith("ERROR:")) text = text.mid(6).trimmed();
  if (text.startsWith("FATAL:")) text = text.mid(6).trimmed();
  if (text.isEmpty()) return "unknown error";
  return ToStd(text);
}

std::string Scrub(std::string text, const std::string& password) {
  if (password.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(password, pos)) != std::string::npos) {
    text.replace(pos, password.size(), "***");
    pos += 3;
  }
  return text;
}

std::string StatementStart(std::string_view sql, std::size_t limit) {
  std::string out;
  bool blank = false;
  std::size_t i = 0;
  for (; i < sql.size() && out.size() < limit; ++i) {
    const char ch = sql[i];
    if (ch == '\r' || ch == '\n' || ch == '\t') {
      if (!blank && !out.empty()) out += ' ';
      blank = true;
      continue;
    }
    blank = ch == ' ';
    out += ch;
  }
  if (i < sql.size()) {
    // Do not cut a multi-byte character in two.
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
    if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
    out += "...";
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

void Fail(const Connection::Impl& c, const std::string& what) {
  // The description is ours and holds no password; the cause may quote the engine.
  throw EDatabaseError(c.description + ": " + Scrub(what, c.password));
}

QSqlDatabase& OpenDatabase(Connection::Impl& c) {
  if (!c.open || !c.db.isOpen()) Fail(c, "the connection is not open");
  return c.db;
}

Connection::Impl& ConnectionOf(const StatementHolder& holder) {
  if (!holder.connection) throw EDatabaseError("The database connection no longer exists");
  return *holder.connection;
}

bool ValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    // Eight ASCII characters at a time.
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;  // no overlong forms
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < len) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (std::size_t i = 2; i < len; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += len;
  }
  return true;
}

std::string RepairedUtf8(std::string_view s) { return ToStd(ToQt(s)); }

std::string SqliteErrorText(sqlite3* handle) {
  const char* text = sqlite3_errmsg(handle);
  std::string out = text != nullptr ? text : "";
  while (!out.empty() && static_cast<unsigned char>(out.back()) <= ' ') out.pop_back();
  return out.empty() ? "unknown error" : out;
}

void StatementDeleter::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

void Register(StatementHolder& holder, Connection::Impl& c) {
  holder.connection = &c;
  c.holders.push_back(&holder);
}

void Unregister(StatementHolder& holder) {
  if (!holder.connection) return;
  auto& list = holder.connection->holders;
  list.erase(std::remove(list.begin(), list.end(), &holder), list.end());
  holder.connection = nullptr;
}

}  // namespace detail

namespace {

using detail::Fail;
using detail::ToQt;
using detail::ToStd;

std::atomic<unsigned> connectionCounter{0};

constexpr char kSqliteMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                   'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

// SQLite URI of a file that must exist already: every byte outside the unreserved set
// is percent-encoded, so "?", "#" and "%" in a file name keep their meaning.
QString SqliteUri(const std::string& path, bool readOnly) {
  static const char* const hex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char ch : path) {
    if (std::isalnum(ch) || ch == '/' || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
      uri += static_cast<char>(ch);
    } else {
      uri += '%';
      uri += hex[ch >> 4];
      uri += hex[ch & 15];
    }
  }
  uri += readOnly ? "?mode=ro" : "?mode=rw";
  return ToQt(uri);
}

std::string ErrnoText(int err) { return std::strerror(err); }

// Refuses, with the reason, a file that SQLite must not open: missing, a directory,
// empty, an Access database, anything without the SQLite header.
void CheckSqliteFile(const Connection::Impl& c) {
  struct stat st {};
  if (::stat(c.sqlitePath.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT) Fail(c, "the file does not exist");
    Fail(c, "cannot open the file: " + ErrnoText(err));
  }
  if (S_ISDIR(st.st_mode)) Fail(c, "this is a directory, not a database file");
  const int fd = ::open(c.sqlitePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(c, "cannot read the file: " + ErrnoText(errno));
  char header[32] = {};
  std::size_t got = 0;
  while (got < sizeof header) {
    const ssize_t r = ::read(fd, header + got, sizeof header - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  ::close(fd);
  if (got == 0) {
    // SQLite would take an empty file for a new database and start writing into it.
    Fail(c, "the file is empty, not a database");
  }
  if (got >= sizeof kSqliteMagic && std::memcmp(header, kSqliteMagic, sizeof kSqliteMagic) == 0) {
    return;
  }
  if (got >= 19 && (std::memcmp(header + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(header + 4, "Standard ACE DB", 15) == 0)) {
    Fail(c,
         "the file is a Microsoft Access database, which this program cannot open; it keeps "
         "its tables in SQLite or PostgreSQL databases (convert the tables first)");
  }
  Fail(c, "the file is not an SQLite database");
}

// Qt's SQLite driver is a plugin; Debian's links the system's SQLite library, which this
// program links too, but Qt's own builds carry a private copy of SQLite inside the
// plugin. Only in the first case is the driver's connection one that our SQLite calls
// may use: the plugin must resolve SQLite's functions to the very ones we call.
bool DriverSharesOurSqlite() {
  static const bool shared =
      detail::PluginSharesFunction("qsqlite", "sqlite3_prepare_v2",
                                   reinterpret_cast<const void*>(&sqlite3_prepare_v2)) &&
      detail::PluginSharesFunction("qsqlite", "sqlite3_step",
                                   reinterpret_cast<const void*>(&sqlite3_step));
  return shared;
}

// The SQLite connection of an open Qt connection, or null when it may not be used.
sqlite3* NativeSqlite(const QSqlDatabase& db) {
  if (!DriverSharesOurSqlite() || db.driver() == nullptr) return nullptr;
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(handle.constData());
}

// SQLite counts every allocation under a global lock for its memory statistics, which
// nothing here reads, and the import's statements allocate a great deal while they are
// parsed: the counting is turned off and small blocks come from our own free lists.
// Settings take effect only before SQLite's first use in the process, so they are made
// before the first connection opens; made later, SQLite refuses them harmlessly.
// Sanitizer builds leave SQLite's memory to the sanitizer's allocator, which checks it.
void ConfigureSqliteOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
#if !defined(__SANITIZE_ADDRESS__)
    detail::UseSqliteMemory();
#endif
  });
}

// Runs one setting statement; returns the first column of its first row, if any.
std::optional<QString> Pragma(Connection::Impl& c, const QString& text) {
  QSqlQuery q(c.db);
  q.setForwardOnly(true);
  detail::StatementTimer timer(c);
  if (!q.exec(text)) Fail(c, timer.Error(q.lastError()));
  std::optional<QString> result;
  if (q.next()) result = q.value(0).toString();
  q.finish();
  return result;
}

enum class OpenMode { Write, Create, ReadOnly };

void OpenSqlite(Connection::Impl& c, OpenMode mode) {
  const std::string given = c.settings.Get("Data Source");
  if (given.empty()) {
    throw EDatabaseError(
        "No SQLite database file is named: the connection string has no \"Data Source\"");
  }
  c.sqlitePath = std::filesystem::absolute(given).lexically_normal().string();
  c.description = "SQLite database " + c.sqlitePath;

  bool createdHere = false;
  if (mode == OpenMode::Create) {
    const int fd = ::open(c.sqlitePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int err = errno;
      if (err == EEXIST) {
        Fail(c, "the file exists already; a new database is made only in a new file");
      }
      Fail(c, "cannot create the file: " + ErrnoText(err));
    }
    ::close(fd);
    createdHere = true;
  } else {
    CheckSqliteFile(c);
  }

  const bool readOnly = mode == OpenMode::ReadOnly;
  if (!c.db.isValid()) c.db = QSqlDatabase::addDatabase("QSQLITE", ToQt(c.qtName));
  c.db.setConnectOptions(readOnly ? "QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY" : "QSQLITE_OPEN_URI");
  c.db.setDatabaseName(SqliteUri(c.sqlitePath, readOnly));
  try {
    if (!c.db.open()) Fail(c, "cannot open the file: " + detail::ErrorText(c.db.lastError()));
    // Only settings of this connection follow, and reads: the file stays as it is.
    Pragma(c, QStringLiteral("PRAGMA busy_timeout = %1").arg(c.busyTimeoutMs));
    // Reading the schema makes SQLite check the file beyond its header.
    Pragma(c, "SELECT count(*) FROM sqlite_master");
    Pragma(c, "PRAGMA foreign_keys = ON");
    // A database made here uses write-ahead logging: readers never wait for the writer,
    // and a process killed in the middle of a write leaves the last committed state.
    // Where the file system cannot hold the shared index of the log (network shares),
    // the rollback journal stays. Any other file keeps the journal its owner chose:
    // switching it would rewrite its header and leave files beside it for good.
    std::optional<QString> journal;
    if (createdHere) {
      try {
        journal = Pragma(c, "PRAGMA journal_mode = WAL");
      } catch (const EDatabaseError&) {
      }
    } else {
      journal = Pragma(c, "PRAGMA journal_mode");
    }
    // NORMAL synchronisation is safe against a killed process with the log; the rollback
    // journal syncs every commit.
    if (journal && journal->compare("wal", Qt::CaseInsensitive) == 0) {
      Pragma(c, "PRAGMA synchronous = NORMAL");
    } else {
      Pragma(c, "PRAGMA synchronous = FULL");
    }
    Pragma(c, "PRAGMA cache_size = -16384");
    c.sqlite = readOnly ? nullptr : NativeSqlite(c.db);
  } catch (...) {
    c.db.close();
    if (createdHere) ::unlink(c.sqlitePath.c_str());
    throw;
  }
}

// "host[:port]/database", "[v6addr]:port/database".
void SplitServerSource(const std::string& source, std::string& host, std::string& port,
                       std::string& database) {
  std::string hostPort = source;
  const std::size_t slash = source.find('/');
  if (slash != std::string::npos) {
    hostPort = source.substr(0, slash);
    database = source.substr(slash + 1);
  }
  if (!hostPort.empty() && hostPort.front() == '[') {
    const std::size_t close = hostPort.find(']');
    if (close != std::string::npos) {
      host = hostPort.substr(1, close - 1);
      if (close + 1 < hostPort.size() && hostPort[close + 1] == ':') {
        port = hostPort.substr(close + 2);
      }
      return;
    }
  }
  const std::size_t colon = hostPort.rfind(':');
  if (colon != std::string::npos && hostPort.find(':') == colon) {
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
  } else {
    host = hostPort;
  }
}

struct ServerSettings {
  std::string host, port, database, user;
};

ServerSettings PostgresSettings(const ConnectionString& cs) {
  ServerSettings s;
  const std::string source = cs.Get("Data Source");
  if (!source.empty()) SplitServerSource(source, s.host, s.port, s.database);
  if (s.host.empty()) s.host = cs.Get("Host", cs.Get("Server"));
  if (s.port.empty()) s.port = cs.Get("Port");
  if (s.database.empty()) s.database = cs.Get("Initial Catalog", cs.Get("Database"));
  s.user = cs.Get("User ID", cs.Get("User"));
  return s;
}

std::string PostgresDescription(const ServerSettings& s) {
  std::string d = "PostgreSQL database " + (s.database.empty() ? "(none)" : s.database);
  d += " on " + (s.host.empty() ? std::string("localhost") : s.host);
  if (!s.port.empty()) d += ":" + s.port;
  return d;
}

int PositiveNumber(const Connection::Impl& c, const std::string& name, int def, int max) {
  const std::string text = c.settings.Get(name);
  if (text.empty()) return def;
  int value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9' || value > max / 10) {
      throw EDatabaseError("Invalid connection string: \"" + name +
                           "\" must be a whole number from 0 to " + std::to_string(max));
    }
    value = value * 10 + (ch - '0');
  }
  if (value > max) {
    throw EDatabaseError("Invalid connection string: \"" + name +
                         "\" must be a whole number from 0 to " + std::to_string(max));
  }
  return value;
}

// A value of libpq's connection string: in single quotes, with backslash and quote
// escaped.
std::string ConninfoValue(const std::string& value) {
  std::string out = "'";
  for (char ch : value) {
    if (ch == '\\' || ch == '\'') out += '\\';
    out += ch;
  }
  return out + "'";
}

// libpq's options for the session. The session settings go to the server with the
// login, so they hold from the first statement on: Qt's driver decides at open whether
// a backslash in a text must be doubled, by asking the server, and would double it for
// good when the server's default were the old escaping.
//  - standard_conforming_strings: a backslash is an ordinary character in a literal, as
//    in the import's statements, which quote texts by doubling quotes only;
//  - lock_timeout: a table or row that another session holds locked gives an error
//    after the same wait as a locked SQLite file, instead of a window that hangs;
//  - default_transaction_read_only for a read-only connection.
// Options from the environment (PGOPTIONS), which a given "options" would replace, come
// first; ours follow and win. TCP keepalives let the system notice a server that
// vanished from the network while a statement waits for it.
std::string PostgresOptions(const Connection::Impl& c, int connectTimeout) {
  std::string options;
  if (const char* env = std::getenv("PGOPTIONS"); env != nullptr && *env != '\0') {
    options = std::string(env) + " ";
  }
  options += "-c standard_conforming_strings=on -c lock_timeout=" + std::to_string(c.busyTimeoutMs);
  if (c.readOnly) options += " -c default_transaction_read_only=on";
  // Qt's driver turns every ";" into a blank before it passes the text on.
  for (char& ch : options) {
    if (ch == ';') ch = ' ';
  }
  return "connect_timeout=" + std::to_string(connectTimeout) +
         ";keepalives=1;keepalives_idle=60;keepalives_interval=10;keepalives_count=6"
         ";options=" +
         ConninfoValue(options);
}

void OpenPostgres(Connection::Impl& c) {
  const ServerSettings s = PostgresSettings(c.settings);
  if (s.database.empty()) {
    Fail(c, "no database is named (\"Data Source=host[:port]/database\" or \"Initial Catalog\")");
  }
  int port = -1;
  if (!s.port.empty()) {
    bool ok = false;
    port = QString::fromStdString(s.port).toInt(&ok);
    if (!ok || port <= 0 || port > 65535) {
      Fail(c, "the port \"" + s.port + "\" is not a valid port number");
    }
  }
  if (!QSqlDatabase::isDriverAvailable("QPSQL")) {
    Fail(c, "the PostgreSQL driver of Qt (the QPSQL plugin) is not installed");
  }
  if (!c.db.isValid()) c.db = QSqlDatabase::addDatabase("QPSQL", ToQt(c.qtName));
  c.db.setHostName(ToQt(s.host));
  if (port > 0) c.db.setPort(port);
  c.db.setDatabaseName(ToQt(s.database));
  c.db.setUserName(ToQt(s.user));
  c.db.setPassword(ToQt(c.password));
  const int timeout = PositiveNumber(c, "Connect Timeout", 15, 3600);
  c.db.setConnectOptions(ToQt(PostgresOptions(c, timeout)));
  if (!c.db.open()) {
    Fail(c, "cannot connect: " + detail::ErrorText(c.db.lastError()));
  }
  try {
    // Without the session's handle the server enforces the timeout itself, as long as
    // it runs.
    if (c.commandTimeoutS > 0 && !detail::StartWatchdog(c)) {
      Pragma(c, QStringLiteral("SET statement_timeout = %1").arg(c.commandTimeoutS * 1000LL));
    }
  } catch (...) {
    c.db.close();
    throw;
  }
}

std::string OdbcValue(const std::string& v) {
  if (v.find_first_of(";{}= ") == std::string::npos) return v;
  std::string out = "{";
  for (char ch : v) {
    out += ch;
    if (ch == '}') out += '}';
  }
  return out + "}";
}

void OpenOdbc(Connection::Impl& c) {
  if (!QSqlDatabase::isDriverAvailable("QODBC")) {
    Fail(c, "the ODBC driver of Qt (the QODBC plugin) is not installed");
  }
  // Everything but the provider and the login goes to the ODBC driver manager.
  std::string text;
  for (const auto& [key, value] : c.settings.values) {
    if (key == "PROVIDER" || key == "USER ID" || key == "PASSWORD") continue;
    text += (key == "DATA SOURCE" ? std::string("DSN") : key) + "=" + OdbcValue(value) + ";";
  }
  if (!c.db.isValid()) c.db = QSqlDatabase::addDatabase("QODBC", ToQt(c.qtName));
  c.db.setDatabaseName(ToQt(text));
  c.db.setUserName(ToQt(c.settings.Get("User ID")));
  c.db.setPassword(ToQt(c.password));
  if (!c.db.open()) Fail(c, "cannot connect: " + detail::ErrorText(c.db.lastError()));
}

}  // namespace

Connection::Connection(const std::string& connectionString) : impl_(std::make_unique<Impl>()) {
  ConfigureSqliteOnce();
  Impl& c = *impl_;
  c.settings = ConnectionString::Parse(connectionString);
  c.password = c.settings.Get("Password");
  c.qtName = "tankload-db-" + std::to_string(++connectionCounter);
  // Milliseconds to wait for a lock that another connection holds.
  c.busyTimeoutMs = PositiveNumber(c, "Busy Timeout", 5000, 3600000);
  // Seconds a statement may take (ADO's name and default; 0 for no limit).
  c.commandTimeoutS = PositiveNumber(c, "Command Timeout", 30, 86400);
  const std::string provider = c.settings.Get("Provider");
  const std::string key = detail::AsciiUpper(provider);
  if (key.empty()) {
    throw EDatabaseError(
        "The connection string names no database provider (\"Provider=...\"); known "
        "providers: Microsoft.Jet.OLEDB.4.0, Microsoft.ACE.OLEDB.12.0, SQLite, PostgreSQL, "
        "ODBC");
  }
  if (key == "MICROSOFT.JET.OLEDB.4.0" || key == "MICROSOFT.ACE.OLEDB.12.0" ||
      key == "MICROSOFT.ACE.OLEDB.16.0" || key == "SQLITE") {
    c.engine = Engine::SQLite;
    const std::string file = c.settings.Get("Data Source");
    c.description = "SQLite database " + file;
  } else if (key == "POSTGRESQL") {
    c.engine = Engine::PostgreSQL;
    c.description = PostgresDescription(PostgresSettings(c.settings));
  } else if (key == "ODBC" || key == "MSDASQL") {
    c.engine = Engine::ODBC;
    std::string name = c.settings.Get("Data Source", c.settings.Get("DSN"));
    if (name.empty()) name = c.settings.Get("Driver");
    c.description = "ODBC data source " + (name.empty() ? std::string("(none)") : name);
  } else {
    throw EDatabaseError(
        detail::Scrub("Unknown database provider \"" + provider +
                          "\" in the connection string; known providers: Microsoft.Jet.OLEDB.4.0, "
                          "Microsoft.ACE.OLEDB.12.0, SQLite, PostgreSQL, ODBC",
                      c.password));
  }
  // The Qt connection exists from here on, so a model made before Open shares it.
  const char* driver = c.engine == Engine::SQLite       ? "QSQLITE"
                       : c.engine == Engine::PostgreSQL ? "QPSQL"
                                                        : "QODBC";
  if (QSqlDatabase::isDriverAvailable(driver)) {
    c.db = QSqlDatabase::addDatabase(driver, detail::ToQt(c.qtName));
  }
}

Connection::~Connection() {
  Close();
  for (detail::StatementHolder* h : impl_->holders) h->connection = nullptr;
  if (impl_->db.isValid()) {
    impl_->db = QSqlDatabase();
    QSqlDatabase::removeDatabase(detail::ToQt(impl_->qtName));
  }
}

namespace {

void OpenConnection(Connection::Impl& c, OpenMode mode) {
  if (c.open) return;
  c.readOnly = mode == OpenMode::ReadOnly;
  switch (c.engine) {
    case Engine::SQLite:
      OpenSqlite(c, mode);
      break;
    case Engine::PostgreSQL:
      OpenPostgres(c);
      break;
    case Engine::ODBC:
      OpenOdbc(c);
      break;
  }
  c.open = true;
}

}  // namespace

void Connection::Open(bool createSqliteFile) {
  OpenConnection(*impl_, createSqliteFile ? OpenMode::Create : OpenMode::Write);
}

void Connection::OpenReadOnly() { OpenConnection(*impl_, OpenMode::ReadOnly); }

void Connection::Close() {
  Impl& c = *impl_;
  // Prepared statements belong to the session that ends here.
  for (detail::StatementHolder* h : c.holders) h->DropStatements();
  c.sqlite = nullptr;
  c.watchdog.reset();
  if (c.db.isValid() && c.db.isOpen()) c.db.close();
  c.open = false;
}

bool Connection::ReadOnly() const { return impl_->readOnly; }

bool Connection::Connected() const { return impl_->open && impl_->db.isOpen(); }

Engine Connection::engine() const { return impl_->engine; }

std::string Connection::Describe() const { return impl_->description; }

QSqlDatabase Connection::Database() const { return impl_->db; }

// ---- Query ----

struct Query::Impl final : detail::StatementHolder {
  std::string sql;
  std::optional<QSqlQuery> query;
  explicit Impl(Connection::Impl& c) { detail::Register(*this, c); }
  ~Impl() { detail::Unregister(*this); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  void DropStatements() override { query.reset(); }
};

Query::Query(Connection& connection) : impl_(std::make_unique<Impl>(*connection.impl_)) {}

Query::~Query() = default;

void Query::SetSQL(const std::string& text) {
  Close();
  impl_->sql = text;
}

const std::string& Query::SQL() const { return impl_->sql; }

namespace {

bool IsSqlBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f' || ch == '\v';
}

// One statement straight through SQLite: prepared from its UTF-8 text, stepped once (a
// statement that returns rows makes its changes at the first step) and finalised.
int ExecSqlite(Connection::Impl& connection, const std::string& sql) {
  sqlite3* handle = connection.sqlite;
  // Qt would pass ill-formed text on with replacement characters; so do we.
  std::string repaired;
  std::string_view text = sql;
  if (!detail::ValidUtf8(text)) {
    repaired = detail::RepairedUtf8(text);
    text = repaired;
  }
  auto fail = [&](const std::string& what) {
    Fail(connection, what + " (statement: " + detail::StatementStart(sql) + ")");
  };
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    fail("the statement is too long");
  }
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int prepared =
      sqlite3_prepare_v2(handle, text.data(), static_cast<int>(text.size()), &raw, &tail);
  std::unique_ptr<sqlite3_stmt, detail::StatementDeleter> statement(raw);
  if (prepared != SQLITE_OK) fail(detail::SqliteErrorText(handle));
  if (!statement) fail("No query");  // nothing but blanks and comments
  // SQLite prepares the first statement only; anything after it would be left unrun.
  const char* end = text.data() + text.size();
  if (tail != nullptr && std::any_of(tail, end, [](char ch) { return !IsSqlBlank(ch); })) {
    fail("Unable to execute multiple statements at a time");
  }
  const sqlite3_int64 before = sqlite3_total_changes64(handle);
  const int stepped = sqlite3_step(statement.get());
  if (stepped != SQLITE_DONE && stepped != SQLITE_ROW) fail(detail::SqliteErrorText(handle));
  // The count of the last INSERT, UPDATE or DELETE stays with the connection: it belongs
  // to this statement only when this statement changed rows.
  const sqlite3_int64 rows =
      sqlite3_total_changes64(handle) != before ? sqlite3_changes64(handle) : 0;
  return static_cast<int>(std::min<sqlite3_int64>(rows, std::numeric_limits<int>::max()));
}

}  // namespace

int Query::ExecSQL() {
  Impl& q = *impl_;
  Connection::Impl& connection = detail::ConnectionOf(q);
  QSqlDatabase& database = detail::OpenDatabase(connection);
  if (connection.sqlite != nullptr) return ExecSqlite(connection, q.sql);
  // One query object serves every statement: a run executes one statement per data line.
  if (!q.query) {
    q.query.emplace(database);
    q.query->setForwardOnly(true);
  }
  detail::StatementTimer timer(connection);
  if (!q.query->exec(detail::ToQt(q.sql))) {
    const std::string error = timer.Error(q.query->lastError());
    q.query->finish();
    Fail(connection, error + " (statement: " + detail::StatementStart(q.sql) + ")");
  }
  const int rows = q.query->numRowsAffected();
  q.query->finish();  // releases the statement, so that nothing holds a lock
  return rows < 0 ? 0 : rows;
}

bool Query::Active() const { return impl_->query && impl_->query->isActive(); }

void Query::Close() {
  if (impl_->query) impl_->query->finish();
}

// ---- Transaction ----

namespace {

void Begin(Connection::Impl& c) {
  QSqlDatabase& database = detail::OpenDatabase(c);
  detail::StatementTimer timer(c);
  if (!database.transaction()) {
    Fail(c, "cannot begin a transaction: " + timer.Error(database.lastError()));
  }
}

// "5 s", "1.5 s", "300 ms".
std::string WaitText(int ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  if (ms > 1000 && ms % 100 == 0) {
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
  }
  return std::to_string(ms) + " ms";
}

[[noreturn]] void FailLocked(const Connection::Impl& c, const ProjectLock& lock,
                             const std::string& holder) {
  Fail(c, "cannot start the import of project \"" + lock.project + "\" into \"" + lock.table +
              "\": " + holder + "; gave up waiting after " + WaitText(c.busyTimeoutMs) +
              " (\"Busy Timeout\"); nothing was changed");
}

// SQLite's one writer: BEGIN IMMEDIATE takes the write lock of the file at once, waiting
// for another writer up to the busy timeout.
void BeginImmediate(Connection::Impl& c, const ProjectLock& lock) {
  QSqlQuery q(detail::OpenDatabase(c));
  if (q.exec("BEGIN IMMEDIATE")) return;
  const QSqlError error = q.lastError();
  const int code = error.nativeErrorCode().toInt();
  if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED) {
    FailLocked(c, lock, "another import or program is writing to the database");
  }
  Fail(c, "cannot begin a transaction: " + detail::ErrorText(error));
}

// A text as a literal that means the same whatever the server's escaping of ordinary
// literals is: E'' with backslash and quote escaped.
std::string EscapeLiteral(const std::string& text) {
  std::string out = "E'";
  for (char ch : text) {
    if (ch == '\\') out += '\\';
    if (ch == '\'') out += '\'';
    out += ch;
  }
  return out + "'";
}

// The advisory lock of the project, released by the server when the transaction ends.
// The wait for it is bounded by lock_timeout, which the session has from its options.
void LockProjectOnServer(Connection::Impl& c, const ProjectLock& lock) {
  QSqlDatabase& database = detail::OpenDatabase(c);
  std::string error;
  QString state;
  {
    QSqlQuery q(database);
    q.setForwardOnly(true);
    detail::StatementTimer timer(c);
    if (q.exec(ToQt("SELECT pg_advisory_xact_lock(hashtext(" + EscapeLiteral(lock.table) +
                    "), hashtext(" + EscapeLiteral(lock.project) + "))"))) {
      return;
    }
    error = timer.Error(q.lastError());
    state = q.lastError().nativeErrorCode();
  }
  {
    detail::StatementTimer timer(c);
    database.rollback();
  }
  // 55P03: lock_not_available.
  if (state == "55P03") FailLocked(c, lock, "another import of this project is still running");
  Fail(c, "cannot lock the project for the import: " + error);
}

}  // namespace

Transaction::Transaction(Connection& connection) : connection_(connection) {
  Begin(*connection_.impl_);
}

Transaction::Transaction(Connection& connection, const ProjectLock& lock)
    : connection_(connection) {
  Connection::Impl& c = *connection_.impl_;
  switch (c.engine) {
    case Engine::SQLite:
      BeginImmediate(c, lock);
      break;
    case Engine::PostgreSQL:
      Begin(c);
      LockProjectOnServer(c, lock);
      break;
    case Engine::ODBC:
      // No lock that all engines behind ODBC understand: a plain transaction.
      Begin(c);
      break;
  }
}

Transaction::~Transaction() {
  if (done_) return;
  try {
    Connection::Impl& c = *connection_.impl_;
    detail::StatementTimer timer(c);
    if (c.open && c.db.isOpen()) c.db.rollback();
  } catch (...) {
    // A destructor must not throw; the rollback's own failure has nowhere to go.
  }
}

void Transaction::Commit() {
  Connection::Impl& c = *connection_.impl_;
  if (done_) return;
  QSqlDatabase& database = detail::OpenDatabase(c);
  detail::StatementTimer timer(c);
  if (!database.commit()) {
    Fail(c, "cannot commit the transaction: " + timer.Error(database.lastError()));
  }
  done_ = true;
}

}  // namespace db
