// Opening a connection to a database server: PostgreSQL through Qt's QPSQL driver and
// ODBC data sources through QODBC.

#include <cstdlib>
#include <string>

#include "db/Internal.h"

namespace db::detail {

namespace {

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

std::string OdbcValue(const std::string& v) {
  if (v.find_first_of(";{}= ") == std::string::npos) return v;
  std::string out = "{";
  for (char ch : v) {
    out += ch;
    if (ch == '}') out += '}';
  }
  return out + "}";
}

}  // namespace

std::string ServerDescription(const ConnectionString& settings) {
  return PostgresDescription(PostgresSettings(settings));
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
    Fail(c, "cannot connect: " + ErrorText(c.db.lastError()), QtEngineError(c.db.lastError()));
  }
  try {
    // Without the session's handle the server enforces the timeout itself, as long as
    // it runs.
    if (c.commandTimeoutS > 0 && !StartWatchdog(c)) {
      Pragma(c, QStringLiteral("SET statement_timeout = %1").arg(c.commandTimeoutS * 1000LL));
    }
  } catch (...) {
    c.db.close();
    throw;
  }
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
  if (!c.db.open())
    Fail(c, "cannot connect: " + ErrorText(c.db.lastError()), QtEngineError(c.db.lastError()));
}

}  // namespace db::detail
