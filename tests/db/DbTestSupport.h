#pragma once
// Helpers of the database tests on top of the shared test support (tests/support/): the
// statements of an import, run through the database layer, and further connections to a
// test database.

#include <functional>
#include <memory>
#include <string>

#include "db/Database.h"
#include "tests/support/DatabaseSupport.h"

namespace dbtest {

// A further open connection to the same database (in the test's schema), with `extra`
// pairs appended to the connection string ("" or ";Name=Value...").
inline std::unique_ptr<db::Connection> Connect(const testsupport::TestDatabase& database,
                                               const std::string& extra = "") {
  auto c = std::make_unique<db::Connection>(database.ConnectionString() + extra);
  c->Open();
  if (!database.schema().empty()) {
    testsupport::Exec(c->Database(), "SET search_path TO " + database.schema());
  }
  return c;
}

// A text as a literal of the import's statements: quotes doubled, nothing else escaped.
inline std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  return out + "'";
}

// An INSERT in the layout of the generated statements.
inline std::string InsertText(const std::string& tank, const std::string& project) {
  return "Insert Into FromExcel \r\n(Tank ,Volume ,Project) \nValues \r\n(" + Literal(tank) +
         " ,12.5000000 ," + Literal(project) + ")";
}

// Runs one statement through the query of the database layer; the rows it changed.
inline int ExecQuery(db::Connection& connection, const std::string& sql) {
  db::Query query(connection);
  query.SetSQL(sql);
  return query.ExecSQL();
}

inline db::ProjectLock LockOf(const std::string& project) { return {"FromExcel", project}; }

// What the run by SQL statements does to the table: the project's rows replaced by
// `rows` new ones whose Tank is `mark`; ImportProject does it under the project's lock.
inline void ReplaceRows(db::Connection& c, const std::string& project, const std::string& mark,
                        int rows) {
  ExecQuery(c, "Delete From FromExcel  Where Project = " + Literal(project));
  for (int i = 0; i < rows; ++i) ExecQuery(c, InsertText(mark, project));
}

inline void ImportProject(db::Connection& c, const std::string& project, const std::string& mark,
                          int rows) {
  db::Transaction transaction(c, LockOf(project));
  ReplaceRows(c, project, mark, rows);
  transaction.Commit();
}

// The message of the database error that `action` raises, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace dbtest
