// The catalog lookup of the table dataset, per engine: SQLite's schema table and
// table_xinfo, PostgreSQL's pg_attribute, and Qt's record of the table for the rest.

#include "db/Catalog.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace db::detail {

namespace {

// SQLite's type affinity of a declared column type.
ColumnKind SqliteKind(const QString& declared) {
  const QString t = declared.toUpper();
  if (t.contains("INT")) return ColumnKind::Integer;
  if (t.contains("CHAR") || t.contains("CLOB") || t.contains("TEXT")) return ColumnKind::Text;
  if (t.isEmpty() || t.contains("BLOB")) return ColumnKind::Other;
  if (t.contains("BOOL")) return ColumnKind::Boolean;
  return ColumnKind::Double;  // REAL, FLOAT, DOUBLE, NUMERIC, DECIMAL
}

// Runs one reading statement of the catalog with its values bound.
QSqlQuery Run(Connection::Impl& c, const std::string& context, const QString& sql,
              const QVariantList& args) {
  QSqlQuery q(c.db);
  q.setForwardOnly(true);
  StatementTimer timer(c);
  if (!q.prepare(sql)) timer.Fail(q.lastError(), context);
  for (int i = 0; i < args.size(); ++i) q.bindValue(i, args[i]);
  if (!q.exec()) timer.Fail(q.lastError(), context);
  return q;
}

void LoadSqliteColumns(Connection::Impl& c, const std::string& tableName,
                       const std::string& context, TableShape& shape) {
  QSqlDatabase& db = c.db;
  QSqlQuery names = Run(c, context,
                        "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
                        "AND name = ? COLLATE NOCASE",
                        {ToQt(tableName)});
  if (!names.next()) Fail(c, context + "no such table");
  const QString actual = names.value(0).toString();
  names.finish();
  shape.target = ToStd(db.driver()->escapeIdentifier(actual, QSqlDriver::TableName));

  struct Info {
    QString name, type;
    int pk, hidden;
  };
  std::vector<Info> columns;
  QSqlQuery info =
      Run(c, context, "SELECT name, type, pk, hidden FROM pragma_table_xinfo(?)", {actual});
  int pkCount = 0;
  while (info.next()) {
    columns.push_back({info.value(0).toString(), info.value(1).toString(), info.value(2).toInt(),
                       info.value(3).toInt()});
    if (columns.back().pk > 0) ++pkCount;
  }
  info.finish();
  for (const Info& column : columns) {
    if (column.hidden == 1) continue;  // hidden columns of virtual tables
    const bool generated = column.hidden == 2 || column.hidden == 3;
    // A single INTEGER PRIMARY KEY is the row id: the database numbers new rows.
    const bool rowId =
        pkCount == 1 && column.pk == 1 && column.type.compare("INTEGER", Qt::CaseInsensitive) == 0;
    shape.columns.push_back(
        Column{ToStd(column.name), SqliteKind(column.type), 64, generated || rowId, generated});
  }
}

void LoadPostgresColumns(Connection::Impl& c, const std::string& tableName,
                         const std::string& context, TableShape& shape) {
  QSqlQuery rel = Run(c, context, "SELECT to_regclass(?::text)::text", {ToQt(tableName)});
  if (!rel.next() || rel.value(0).isNull()) Fail(c, context + "no such table");
  shape.target = ToStd(rel.value(0).toString());
  rel.finish();
  QSqlQuery info = Run(c, context,
                       "SELECT a.attname, format_type(a.atttypid, a.atttypmod), "
                       "a.attidentity::text, a.attgenerated::text, "
                       "coalesce(pg_get_expr(d.adbin, d.adrelid), '') "
                       "FROM pg_attribute a LEFT JOIN pg_attrdef d "
                       "ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
                       "WHERE a.attrelid = to_regclass(?::text) AND a.attnum > 0 "
                       "AND NOT a.attisdropped ORDER BY a.attnum",
                       {ToQt(tableName)});
  while (info.next()) {
    const QString type = info.value(1).toString();
    const QString identity = info.value(2).toString();
    const QString generated = info.value(3).toString();
    const QString def = info.value(4).toString();
    ColumnKind kind = ColumnKind::Other;
    int bits = 64;
    if (type == "integer") {
      kind = ColumnKind::Integer;
      bits = 32;
    } else if (type == "smallint") {
      kind = ColumnKind::Integer;
      bits = 16;
    } else if (type == "bigint") {
      kind = ColumnKind::Integer;
    } else if (type == "double precision" || type == "real" || type.startsWith("numeric")) {
      kind = ColumnKind::Double;
    } else if (type == "boolean") {
      kind = ColumnKind::Boolean;
    } else if (type == "text" || type.startsWith("character")) {
      kind = ColumnKind::Text;
    }
    // GENERATED ALWAYS columns refuse values; an identity BY DEFAULT or a serial column
    // takes one when asked to.
    const bool fixed = identity == "a" || generated == "s";
    const bool automatic = fixed || identity == "d" || def.startsWith("nextval(");
    shape.columns.push_back(Column{ToStd(info.value(0).toString()), kind, bits, automatic, fixed});
  }
  info.finish();
}

void LoadOtherColumns(Connection::Impl& c, const std::string& tableName, const std::string& context,
                      TableShape& shape) {
  QSqlDatabase& db = c.db;
  const QSqlRecord record = db.record(ToQt(tableName));
  if (record.isEmpty()) Fail(c, context + "no such table");
  shape.target = ToStd(db.driver()->escapeIdentifier(ToQt(tableName), QSqlDriver::TableName));
  for (int i = 0; i < record.count(); ++i) {
    const QSqlField f = record.field(i);
    ColumnKind kind = ColumnKind::Other;
    switch (f.metaType().id()) {
      case QMetaType::Int:
      case QMetaType::UInt:
      case QMetaType::Short:
      case QMetaType::LongLong:
      case QMetaType::ULongLong:
        kind = ColumnKind::Integer;
        break;
      case QMetaType::Double:
      case QMetaType::Float:
        kind = ColumnKind::Double;
        break;
      case QMetaType::Bool:
        kind = ColumnKind::Boolean;
        break;
      case QMetaType::QString:
        kind = ColumnKind::Text;
        break;
      default:
        break;
    }
    shape.columns.push_back(
        Column{ToStd(f.name()), kind, 64, f.isAutoValue() || f.isReadOnly(), f.isReadOnly()});
  }
}

}  // namespace

TableShape ReadTableShape(Connection::Impl& c, const std::string& tableName) {
  const std::string context = "table \"" + tableName + "\": ";
  TableShape shape;
  switch (c.engine) {
    case Engine::SQLite:
      LoadSqliteColumns(c, tableName, context, shape);
      break;
    case Engine::PostgreSQL:
      LoadPostgresColumns(c, tableName, context, shape);
      break;
    case Engine::ODBC:
      LoadOtherColumns(c, tableName, context, shape);
      break;
  }
  return shape;
}

std::string InsertSql(const Connection::Impl& c, const std::string& target,
                      const std::vector<const std::string*>& columns) {
  if (columns.empty()) return "INSERT INTO " + target + " DEFAULT VALUES";
  const QSqlDriver* driver = c.db.driver();
  std::string names;
  std::string marks;
  for (const std::string* name : columns) {
    if (!names.empty()) {
      names += ", ";
      marks += ", ";
    }
    names += ToStd(driver->escapeIdentifier(ToQt(*name), QSqlDriver::FieldName));
    marks += "?";
  }
  return "INSERT INTO " + target + " (" + names + ") VALUES (" + marks + ")";
}

}  // namespace db::detail
