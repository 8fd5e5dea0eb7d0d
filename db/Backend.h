#pragma once
// How the database layer runs the statements of an import on an open connection. Two
// back ends stand behind one interface:
//  - SqliteBackend.cpp runs them through SQLite's own interface, on the connection that
//    Qt's driver opened, where that driver uses the SQLite library this program links;
//  - QtBackend.cpp runs them through Qt SQL: PostgreSQL (whose statements the watchdog
//    of Watchdog.cpp times), ODBC, and SQLite behind a driver with a copy of its own.
// Opening a connection, reading the catalog and transactions go through Qt SQL for every
// engine.

#include <memory>
#include <string>
#include <vector>

#include "db/Field.h"
#include "db/Internal.h"

namespace db::detail {

// A prepared INSERT of the table dataset, run once per row.
class InsertStatement {
 public:
  virtual ~InsertStatement() = default;
  // Writes one row: `values` in the order of the statement's parameters. A refused row
  // raises EDatabaseError with the context given when it was prepared.
  virtual void Run(const std::vector<const BoundValue*>& values) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Runs one statement as a command; the number of rows it changed. Errors name the
  // statement's start.
  virtual int Execute(const std::string& sql) = 0;
  // Prepares `sql`, an INSERT with one parameter per written column. `context` starts
  // the messages of its errors (e.g. "table \"FromExcel\": ").
  virtual std::unique_ptr<InsertStatement> PrepareInsert(const std::string& sql,
                                                         const std::string& context) = 0;
};

// The back end over SQLite's own interface for an open, writable SQLite connection, or
// null when Qt's driver does not share this program's SQLite library.
std::unique_ptr<Backend> MakeSqliteBackend(Connection::Impl& c);
// The back end over Qt SQL for any open connection.
std::unique_ptr<Backend> MakeQtBackend(Connection::Impl& c);

}  // namespace db::detail
