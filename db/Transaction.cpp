// The transaction guard, with the lock that serialises the imports of one project.

#include <sqlite3.h>

#include <string>

#include <QSqlQuery>

#include "db/Database.h"
#include "db/Internal.h"

namespace db {

namespace {

using detail::Fail;
using detail::ToQt;

void Begin(Connection::Impl& c) {
  QSqlDatabase& database = detail::OpenDatabase(c);
  detail::StatementTimer timer(c);
  if (!database.transaction()) timer.Fail(database.lastError(), "cannot begin a transaction: ");
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
                             const std::string& holder, const detail::EngineError& engine) {
  Fail(c,
       "cannot start the import of project \"" + lock.project + "\" into \"" + lock.table +
           "\": " + holder + "; gave up waiting after " + WaitText(c.busyTimeoutMs) +
           " (\"Busy Timeout\"); nothing was changed",
       engine);
}

// SQLite's one writer: BEGIN IMMEDIATE takes the write lock of the file at once, waiting
// for another writer up to the busy timeout.
void BeginImmediate(Connection::Impl& c, const ProjectLock& lock) {
  QSqlQuery q(detail::OpenDatabase(c));
  if (q.exec("BEGIN IMMEDIATE")) return;
  const QSqlError error = q.lastError();
  const int code = error.nativeErrorCode().toInt();
  if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED) {
    FailLocked(c, lock, "another import or program is writing to the database",
               detail::QtEngineError(error));
  }
  Fail(c, "cannot begin a transaction: " + detail::ErrorText(error), detail::QtEngineError(error));
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
  detail::EngineError engine;
  {
    QSqlQuery q(database);
    q.setForwardOnly(true);
    detail::StatementTimer timer(c);
    if (q.exec(ToQt("SELECT pg_advisory_xact_lock(hashtext(" + EscapeLiteral(lock.table) +
                    "), hashtext(" + EscapeLiteral(lock.project) + "))"))) {
      return;
    }
    error = timer.Error(q.lastError());
    engine = detail::QtEngineError(q.lastError());
  }
  {
    detail::StatementTimer timer(c);
    database.rollback();
  }
  // 55P03: lock_not_available.
  if (engine.code == "55P03") {
    FailLocked(c, lock, "another import of this project is still running", engine);
  }
  Fail(c, "cannot lock the project for the import: " + error, engine);
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
  if (!database.commit()) timer.Fail(database.lastError(), "cannot commit the transaction: ");
  done_ = true;
}

}  // namespace db
