#pragma once
// The database layer over Qt SQL: ADO-style connection strings, a connection, a query
// that executes statements and reports rows affected, a table dataset that the record
// model stores into, a transaction guard, the schema of the import tables and a table
// written out as text.
// The import runs and the command line see only these classes. In the program, the one
// user of Qt SQL outside db/ is the window: its grid is a QTableView over a QSqlTableModel on the
// connection that Connection::Database() hands out, and the grid's delegate reads the
// model's column types (app/MainWindow.cpp, app/GridDelegate.cpp).

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>

#include "platform/DataSet.h"
#include "platform/Exception.h"

class QSqlDatabase;

namespace db {

// The connection string of the window's design-time settings (an Access file
// "dunvik.mdb" through the Jet provider; served by SQLite here).
extern const char* const DesignTimeConnectionString;

// "Name=Value;..." pairs; names compared without regard to letter case, values may be
// quoted ("" is the empty value).
struct ConnectionString {
  std::map<std::string, std::string> values;               // keys upper-cased
  static ConnectionString Parse(const std::string& text);  // raises EDatabaseError
  std::string Get(const std::string& name, const std::string& def = {}) const;
};

enum class Engine { SQLite, PostgreSQL, ODBC };

// One open database. Errors raise EDatabaseError with a message that names the database
// (never its password) and the cause.
//
// Keys of the connection string read besides the location and the login:
//   "Busy Timeout"     milliseconds to wait for a lock that another connection holds
//                      (default 5000): SQLite's busy timeout, PostgreSQL's lock_timeout.
//   "Connect Timeout"  seconds to wait for a PostgreSQL server to answer (default 15).
//   "Command Timeout"  seconds one statement may take on PostgreSQL (default 30; 0 for no
//                      limit): the statement is then cancelled and fails with an error that
//                      names this key. A server that does not answer the cancel request
//                      within a few seconds more loses the connection instead.
// PostgreSQL sessions also ask for TCP keepalives, so that a server that vanished from the
// network is noticed by the operating system.
class Connection {
 public:
  explicit Connection(const std::string& connectionString);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the database. An SQLite file is never created or overwritten, except that
  // `createSqliteFile` true (the create-database command) makes a new, empty file and
  // refuses one that exists already.
  // A database that the program did not create keeps its journal: opening it writes
  // nothing to the file; only a file made here is switched to write-ahead logging.
  void Open(bool createSqliteFile = false);
  // Opens the database for reading only: an SQLite file is opened read-only (it may lie
  // in a directory that cannot be written) and stays byte for byte as it was; a
  // PostgreSQL session refuses to write.
  void OpenReadOnly();
  void Close();
  bool Connected() const;
  bool ReadOnly() const;
  Engine engine() const;
  std::string Describe() const;  // e.g. "SQLite database /path/dunvik.mdb"
  // The Qt connection, for the grid's model. Valid while the connection is open.
  QSqlDatabase Database() const;

  // The state behind the connection; defined inside the database layer only.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  friend class Query;
  friend class Table;
  friend class Transaction;
};

// Executes statements; stands where the window has its query component.
class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  void SetSQL(const std::string& text);
  const std::string& SQL() const;
  // Runs the statement as a command and returns the number of rows affected.
  int ExecSQL();
  bool Active() const;
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A table opened for browsing and insertion; stands where the window has its table
// component. Post writes the row with bound parameters.
class Table : public TDataSet {
 public:
  explicit Table(Connection& connection);
  ~Table() override;
  void SetTableName(const std::string& name);  // closes nothing; takes effect at Open
  const std::string& TableName() const;

  bool Active() const override;
  void Open() override;
  void Close() override;
  TDataSetState State() const override;
  void Insert() override;
  TField* FindField(const std::string& name) override;
  void Post() override;
  void Cancel() override;
  void DisableControls() override;
  void EnableControls() override;
  bool ControlsDisabled() const;

  // Called with false when the controls are disabled and with true when they are
  // enabled again (the grid refreshes then), and after Open/Close.
  void SetControlsListener(std::function<void(bool enabled)> listener);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The rows of one project of one table, as an import replaces them.
struct ProjectLock {
  std::string table;
  std::string project;
};

// Begins a transaction; rolls back in its destructor unless committed. Never throws
// from the destructor.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  // Begins a transaction that holds the lock of one project until it ends, so that two
  // imports of the same project run one after the other. The second one waits for the
  // first up to the "Busy Timeout" and then fails with a message that says so, having
  // changed nothing.
  // SQLite has one writer per file: the transaction begins IMMEDIATE, i.e. with the write
  // lock of the whole file. PostgreSQL: a transaction-level advisory lock with the two
  // keys hashtext(table) and hashtext(project) (the table name as given, the project's
  // text as stored), i.e. pg_advisory_xact_lock(hashtext('FromExcel'), hashtext('P'));
  // imports of other projects do not wait for it.
  Transaction(Connection& connection, const ProjectLock& lock);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Connection& connection_;
  bool done_ = false;
};

// Creates "FromExcel" and "Stability_Elements" (integer ID key generated by the
// database, the 23 written columns of the import layout). Refuses an existing table.
void CreateSchema(Connection& connection);

// Writes the table `name` (found without regard to letter case) to `out` as text: a line
// of column names, then one line per row ordered by the column ID when there is one,
// cells separated by tabs, NULL as an empty cell, numbers with up to 15 significant
// digits, tabs and line breaks inside a cell as blanks. False when there is no such
// table; a table that cannot be read raises EDatabaseError.
bool WriteTable(Connection& connection, const std::string& name, std::ostream& out);

}  // namespace db
