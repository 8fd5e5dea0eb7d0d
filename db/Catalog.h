#pragma once
// What the table dataset reads from the database's catalog: the columns of a table, how
// the INSERT statements name the table and its columns.

#include <string>
#include <vector>

#include "db/Field.h"
#include "db/Internal.h"

namespace db::detail {

struct Column {
  std::string name;
  ColumnKind kind = ColumnKind::Other;
  int intBits = 64;       // the range of an integer column
  bool readOnly = false;  // the database fills it in (row id, identity, serial, generated)
  bool computed = false;  // it refuses values altogether (generated columns)
};

struct TableShape {
  std::string target;  // the table as the INSERT statements name it
  std::vector<Column> columns;
};

// The columns of `tableName` (found without regard to letter case on SQLite, by the
// server's own rules on PostgreSQL). Raises EDatabaseError "table \"<name>\": no such
// table" when there is none.
TableShape ReadTableShape(Connection::Impl& c, const std::string& tableName);

// "INSERT INTO <target> (<columns>) VALUES (?, ...)", or "... DEFAULT VALUES" without
// columns; column names quoted as the engine wants them.
std::string InsertSql(const Connection::Impl& c, const std::string& target,
                      const std::vector<const std::string*>& columns);

}  // namespace db::detail
