// The back end that runs the import's statements through SQLite's own interface: each
// statement prepared from its UTF-8 text and stepped, rows bound without conversions
// through Qt's variants.

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include <QSqlDriver>
#include <QVariant>

#include "db/Backend.h"
#include "platform/Text.h"

namespace db::detail {

namespace {

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// The engine's code and message for the last failure on a connection.
EngineError SqliteError(sqlite3* handle) {
  const char* text = sqlite3_errmsg(handle);
  std::string out = text != nullptr ? text : "";
  while (!out.empty() && static_cast<unsigned char>(out.back()) <= ' ') out.pop_back();
  return {std::to_string(sqlite3_extended_errcode(handle)), out.empty() ? "unknown error" : out};
}

[[noreturn]] void FailSqlite(const Connection::Impl& c, sqlite3* handle, const std::string& prefix,
                             const std::string& suffix) {
  const EngineError engine = SqliteError(handle);
  Fail(c, prefix + engine.text + suffix, engine);
}

bool IsSqlBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f' || ch == '\v';
}

// Qt's SQLite driver is a plugin; Debian's links the system's SQLite library, which this
// program links too, but Qt's own builds carry a private copy of SQLite inside the
// plugin. Only in the first case is the driver's connection one that our SQLite calls
// may use: the plugin must resolve SQLite's functions to the very ones we call.
bool DriverSharesOurSqlite() {
  static const bool shared =
      PluginSharesFunction("qsqlite", "sqlite3_prepare_v2",
                           reinterpret_cast<const void*>(&sqlite3_prepare_v2)) &&
      PluginSharesFunction("qsqlite", "sqlite3_step", reinterpret_cast<const void*>(&sqlite3_step));
  return shared;
}

// The SQLite connection of an open Qt connection, or null when it may not be used.
sqlite3* NativeSqlite(const QSqlDatabase& db) {
  if (!DriverSharesOurSqlite() || db.driver() == nullptr) return nullptr;
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(handle.constData());
}

int BindValue(sqlite3_stmt* statement, int index, const BoundValue& value) {
  switch (value.type) {
    case BoundType::Null:
      return sqlite3_bind_null(statement, index);
    case BoundType::Text: {
      const std::string& text = *value.text;
      if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return SQLITE_TOOBIG;
      }
      if (platform::IsValidUtf8(text)) {
        return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_STATIC);
      }
      // Stored as Qt would store it: ill-formed sequences as replacement characters.
      const std::string repaired = RepairedUtf8(text);
      return sqlite3_bind_text(statement, index, repaired.data(), static_cast<int>(repaired.size()),
                               SQLITE_TRANSIENT);
    }
    case BoundType::Integer:
    case BoundType::Boolean:
      return sqlite3_bind_int64(statement, index, value.integer);
    case BoundType::Double:
      return sqlite3_bind_double(statement, index, value.real);
  }
  return SQLITE_MISUSE;
}

class SqliteInsert final : public InsertStatement {
 public:
  SqliteInsert(Connection::Impl& c, sqlite3* handle, Statement statement, std::string context)
      : connection_(c),
        handle_(handle),
        statement_(std::move(statement)),
        context_(std::move(context)) {}

  void Run(const std::vector<const BoundValue*>& values) override {
    sqlite3_stmt* statement = statement_.get();
    // The statement is left reset and without values however the row ends: nothing
    // keeps a lock, and no text of this row is referred to after it.
    struct Release {
      sqlite3_stmt* statement;
      ~Release() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
      }
    } release{statement};
    int position = 0;
    for (const BoundValue* value : values) {
      if (BindValue(statement, ++position, *value) != SQLITE_OK) {
        FailSqlite(connection_, handle_, context_, "");
      }
    }
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) FailSqlite(connection_, handle_, context_, "");
  }

 private:
  Connection::Impl& connection_;
  sqlite3* handle_;
  Statement statement_;
  std::string context_;
};

class SqliteBackend final : public Backend {
 public:
  SqliteBackend(Connection::Impl& c, sqlite3* handle) : connection_(c), handle_(handle) {}

  // One statement prepared from its UTF-8 text, stepped once (a statement that returns
  // rows makes its changes at the first step) and finalised.
  int Execute(const std::string& sql) override {
    // Qt would pass ill-formed text on with replacement characters; so do we.
    std::string repaired;
    std::string_view text = sql;
    if (!platform::IsValidUtf8(text)) {
      repaired = RepairedUtf8(text);
      text = repaired;
    }
    const std::string note = StatementNote(sql);
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      Fail(connection_, "the statement is too long" + note);
    }
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int prepared =
        sqlite3_prepare_v2(handle_, text.data(), static_cast<int>(text.size()), &raw, &tail);
    Statement statement(raw);
    if (prepared != SQLITE_OK) FailSqlite(connection_, handle_, "", note);
    if (!statement) Fail(connection_, "No query" + note);  // nothing but blanks and comments
    // SQLite prepares the first statement only; anything after it would be left unrun.
    const char* end = text.data() + text.size();
    if (tail != nullptr && std::any_of(tail, end, [](char ch) { return !IsSqlBlank(ch); })) {
      Fail(connection_, "Unable to execute multiple statements at a time" + note);
    }
    const sqlite3_int64 before = sqlite3_total_changes64(handle_);
    const int stepped = sqlite3_step(statement.get());
    if (stepped != SQLITE_DONE && stepped != SQLITE_ROW) {
      FailSqlite(connection_, handle_, "", note);
    }
    // The count of the last INSERT, UPDATE or DELETE stays with the connection: it
    // belongs to this statement only when this statement changed rows.
    const sqlite3_int64 rows =
        sqlite3_total_changes64(handle_) != before ? sqlite3_changes64(handle_) : 0;
    return static_cast<int>(std::min<sqlite3_int64>(rows, std::numeric_limits<int>::max()));
  }

  std::unique_ptr<InsertStatement> PrepareInsert(const std::string& sql,
                                                 const std::string& context) override {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(handle_, sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) FailSqlite(connection_, handle_, context, "");
    if (!statement) Fail(connection_, context + "No query");
    return std::make_unique<SqliteInsert>(connection_, handle_, std::move(statement), context);
  }

 private:
  Connection::Impl& connection_;
  sqlite3* handle_;
};

}  // namespace

std::unique_ptr<Backend> MakeSqliteBackend(Connection::Impl& c) {
  sqlite3* handle = NativeSqlite(c.db);
  if (handle == nullptr) return nullptr;
  return std::make_unique<SqliteBackend>(c, handle);
}

}  // namespace db::detail
