#pragma once
// Private details shared by the sources of the database layer: the state behind a
// Connection and the helpers that turn Qt errors into EDatabaseError.

#include <string>
#include <string_view>

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include "db/Database.h"

namespace db {

struct Connection::Impl {
  ConnectionString settings;
  Engine engine = Engine::SQLite;
  std::string qtName;       // unique name of the Qt connection
  std::string description;  // "SQLite database /path/file.db"; never holds a password
  std::string password;     // kept to scrub it from any text we pass on
  std::string sqlitePath;   // absolute path of the SQLite file
  int busyTimeoutMs = 5000;
  bool open = false;
  // Counts the openings: statements prepared under an earlier one are gone with it.
  unsigned generation = 0;
  QSqlDatabase db;
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

// ASCII upper-casing of connection-string keys and provider names.
std::string AsciiUpper(std::string_view s);

}  // namespace detail
}  // namespace db
