// A table written out as tab-separated text, for the command line's --show.

#include <ostream>

#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include "db/Database.h"
#include "db/Internal.h"

namespace db {

namespace {

// A value as one cell: empty for NULL, numbers with up to 15 significant digits, line
// breaks and tabs as blanks.
QString CellText(const QVariant& value) {
  if (value.isNull()) return {};
  QString text;
  switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      text = QString::number(value.toDouble(), 'g', 15);
      break;
    default:
      text = value.toString();
  }
  // One line per row, one cell per tab.
  for (QChar& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

bool WriteTable(Connection& connection, const std::string& name, std::ostream& out) {
  QSqlDatabase database = connection.Database();
  const QString wanted = detail::ToQt(name);
  QString table;
  for (const QString& t : database.tables(QSql::Tables)) {
    if (t.compare(wanted, Qt::CaseInsensitive) == 0) {
      table = t;
      break;
    }
  }
  if (table.isEmpty()) return false;
  const QSqlRecord columns = database.record(table);
  QString sql =
      "SELECT * FROM " + database.driver()->escapeIdentifier(table, QSqlDriver::TableName);
  if (const int id = columns.indexOf("ID"); id >= 0) {
    sql += " ORDER BY " +
           database.driver()->escapeIdentifier(columns.fieldName(id), QSqlDriver::FieldName);
  }
  QSqlQuery query(database);
  query.setForwardOnly(true);
  if (!query.exec(sql)) {
    const detail::EngineError engine = detail::QtEngineError(query.lastError());
    throw EDatabaseError(
        "Не могу прочитать таблицу " + name + ": " + detail::ToStd(query.lastError().text()),
        engine.code, engine.text);
  }
  const QSqlRecord shape = query.record();
  QStringList header;
  for (int i = 0; i < shape.count(); ++i) header << shape.fieldName(i);
  out << detail::ToStd(header.join('\t')) << '\n';
  QStringList cells;
  while (query.next()) {
    cells.clear();
    for (int i = 0; i < shape.count(); ++i) cells << CellText(query.value(i));
    out << detail::ToStd(cells.join('\t')) << '\n';
  }
  out.flush();
  return true;
}

}  // namespace db
