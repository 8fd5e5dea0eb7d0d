#pragma once
// Private details shared by the sources of the database layer: the state behind a
// Connection and the helpers that turn Qt errors into EDatabaseError.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include "db/Database.h"

// SQLite's connection and statement, used directly where Qt's driver hands out the
// connection of the system's SQLite library.
struct sqlite3;
struct sqlite3_stmt;

namespace db {

namespace detail {

// A query or table that keeps prepared statements of a connection. The connection tells
// it when it closes (the statements must go while the session lives) and when it is
// destroyed (the holder is then left without a connection).
struct StatementHolder {
  Connection::Impl* connection = nullptr;
  virtual void DropStatements() = 0;

 protected:
  ~StatementHolder() = default;
};

// Cancels a statement of a PostgreSQL session that runs longer than its time (see
// Watchdog.cpp).
class Watchdog;

}  // namespace detail

struct Connection::Impl {
  ConnectionString settings;
  Engine engine = Engine::SQLite;
  std::string qtName;       // unique name of the Qt connection
  std::string description;  // "SQLite database /path/file.db"; never holds a password
  std::string password;     // kept to scrub it from any text we pass on
  std::string sqlitePath;   // absolute path of the SQLite file
  int busyTimeoutMs = 5000;
  int commandTimeoutS = 30;  // 0: no limit
  bool readOnly = false;
  bool open = false;
  QSqlDatabase db;
  // The SQLite connection behind `db` while it is open, when the statements of the
  // import may run on it directly; null otherwise (then everything goes through Qt).
  sqlite3* sqlite = nullptr;
  std::vector<detail::StatementHolder*> holders;
  // Watches the statements of a PostgreSQL session with a command timeout; null otherwise.
  std::shared_ptr<detail::Watchdog> watchdog;
};

namespace detail {

std::string ToStd(const QString& s);
QString ToQt(std::string_view s);

// The engine's own message of a Qt error: the database text, else the driver text.
std::string ErrorText(const QSqlError& error);

// Replaces every occurrence of the password in `text` by "***".
std::string Scrub(std::string text, const std::string& password);

// The first characters of a statement for a message: line breaks and tabs shown as
// blanks, cut at a character boundary with "..." when longer than `limit` bytes.
std::string StatementStart(std::string_view sql, std::size_t limit = 160);

// Raises EDatabaseError("<description>: <what>") with the password scrubbed.
[[noreturn]] void Fail(const Connection::Impl& c, const std::string& what);

// The open Qt connection, or EDatabaseError when the connection is closed.
QSqlDatabase& OpenDatabase(Connection::Impl& c);
// The connection of a holder, or EDatabaseError when it was destroyed.
Connection::Impl& ConnectionOf(const StatementHolder& holder);
void Register(StatementHolder& holder, Connection::Impl& c);
void Unregister(StatementHolder& holder);

// ASCII upper-casing of connection-string keys and provider names.
std::string AsciiUpper(std::string_view s);

// True when `s` is well-formed UTF-8.
bool ValidUtf8(std::string_view s);
// `s` as Qt would pass it on: each ill-formed sequence replaced by U+FFFD.
std::string RepairedUtf8(std::string_view s);

// The engine's message for the last failure on an SQLite connection.
std::string SqliteErrorText(sqlite3* handle);

// Makes SQLite take its memory from the free lists of the database layer; false when
// SQLite was in use already (it then keeps the C library's allocator).
bool UseSqliteMemory();

// The time of one statement that may block on the server: from construction to the end
// of the scope (or Expired). When the statement outlives the command timeout, the
// watchdog cancels it, and Error describes its failure by the timeout.
class StatementTimer {
 public:
  explicit StatementTimer(Connection::Impl& c);
  ~StatementTimer();
  StatementTimer(const StatementTimer&) = delete;
  StatementTimer& operator=(const StatementTimer&) = delete;
  // Ends the watch; true when the watchdog cancelled the statement.
  bool Expired();
  // The engine's message of a failed statement, or the timeout's when it was cancelled.
  std::string Error(const QSqlError& error);

 private:
  Connection::Impl& connection_;
  std::uint64_t ticket_ = 0;
  bool expired_ = false;
};

// Starts watching the session of an open PostgreSQL connection when it has a command
// timeout; false when the driver's session cannot be reached (see Watchdog.cpp).
bool StartWatchdog(Connection::Impl& c);

// Whether the Qt driver plugin whose file name contains `plugin` calls `symbol` of the
// very library that this program links, where `ours` is that function's address.
bool PluginSharesFunction(const char* plugin, const char* symbol, const void* ours);

// Owns a prepared SQLite statement and finalises it.
struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const;
};

}  // namespace detail
}  // namespace db
