#pragma once
// Private details shared by the sources of the database layer: the state behind a
// Connection and the helpers that turn the engines' errors into EDatabaseError.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include "db/Database.h"

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

// Runs the statements of the import on an open connection (see Backend.h).
class Backend;

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
  // How the statements of the import run while the connection is open; null when closed.
  std::unique_ptr<detail::Backend> backend;
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
// The message suffix that names a failed statement: " (statement: <start>)".
std::string StatementNote(const std::string& sql);

// The engine's own code and text of a failure (see EDatabaseError).
struct EngineError {
  std::string code;
  std::string text;
};
// A failure that Qt's driver reports: its native code (SQLSTATE on PostgreSQL) and
// ErrorText.
EngineError QtEngineError(const QSqlError& error);

// Raises EDatabaseError("<description>: <what>") with the password scrubbed, carrying the
// engine's code and text when the engine refused something.
[[noreturn]] void Fail(const Connection::Impl& c, const std::string& what,
                       const EngineError& engine = {});

// The open Qt connection, or EDatabaseError when the connection is closed.
QSqlDatabase& OpenDatabase(Connection::Impl& c);
// The connection of a holder, or EDatabaseError when it was destroyed.
Connection::Impl& ConnectionOf(const StatementHolder& holder);
void Register(StatementHolder& holder, Connection::Impl& c);
void Unregister(StatementHolder& holder);

// `s` as Qt would pass it on: each ill-formed sequence replaced by U+FFFD.
std::string RepairedUtf8(std::string_view s);

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
  // Raises EDatabaseError for a statement that failed:
  // "<description>: <prefix><Error(error)><suffix>", with the engine's code and text.
  [[noreturn]] void Fail(const QSqlError& error, const std::string& prefix = {},
                         const std::string& suffix = {});

 private:
  Connection::Impl& connection_;
  std::uint64_t ticket_ = 0;
  bool expired_ = false;
};

// Runs one setting or reading statement through Qt; the first column of its first row,
// if any.
std::optional<QString> Pragma(Connection::Impl& c, const QString& text);

// Reads a key of the connection string that holds a whole number from 0 to `max`; `def`
// when it is not given.
int PositiveNumber(const Connection::Impl& c, const std::string& name, int def, int max);

enum class OpenMode { Write, Create, ReadOnly };

// Sets SQLite up before its first use in the process (see SqliteConnection.cpp).
void ConfigureSqliteOnce();
// Open the Qt connection of each engine; raise EDatabaseError (SqliteConnection.cpp,
// ServerConnection.cpp).
void OpenSqlite(Connection::Impl& c, OpenMode mode);
void OpenPostgres(Connection::Impl& c);
void OpenOdbc(Connection::Impl& c);
// "PostgreSQL database <name> on <host>[:<port>]".
std::string ServerDescription(const ConnectionString& settings);

// Starts watching the session of an open PostgreSQL connection when it has a command
// timeout; false when the driver's session cannot be reached (see Watchdog.cpp).
bool StartWatchdog(Connection::Impl& c);

// Whether the Qt driver plugin whose file name contains `plugin` calls `symbol` of the
// very library that this program links, where `ours` is that function's address.
bool PluginSharesFunction(const char* plugin, const char* symbol, const void* ours);

}  // namespace detail
}  // namespace db
