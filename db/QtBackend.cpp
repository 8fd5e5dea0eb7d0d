// The back end that runs the import's statements through Qt SQL: PostgreSQL, ODBC, and
// SQLite behind a driver with a copy of SQLite of its own. Statements that may block on a
// server are timed by the connection's watchdog.

#include <optional>

#include <QSqlQuery>
#include <QVariant>

#include "db/Backend.h"

namespace db::detail {

namespace {

// The value as Qt's drivers take it: a null of the column's type, a text, a 64-bit
// integer, a double or a boolean.
QVariant QtValue(const BoundValue& value) {
  switch (value.type) {
    case BoundType::Null:
      switch (value.kind) {
        case ColumnKind::Integer:
          return QVariant(QMetaType::fromType<qlonglong>());
        case ColumnKind::Double:
          return QVariant(QMetaType::fromType<double>());
        case ColumnKind::Boolean:
          return QVariant(QMetaType::fromType<bool>());
        default:
          return QVariant(QMetaType::fromType<QString>());
      }
    case BoundType::Text:
      return QVariant(ToQt(*value.text));
    case BoundType::Integer:
      return QVariant(static_cast<qlonglong>(value.integer));
    case BoundType::Double:
      return QVariant(value.real);
    case BoundType::Boolean:
      return QVariant(value.integer != 0);
  }
  return QVariant();
}

class QtInsert final : public InsertStatement {
 public:
  QtInsert(Connection::Impl& c, QSqlQuery query, std::string context)
      : connection_(c), query_(std::move(query)), context_(std::move(context)) {}

  void Run(const std::vector<const BoundValue*>& values) override {
    int position = 0;
    for (const BoundValue* value : values) query_.bindValue(position++, QtValue(*value));
    StatementTimer timer(connection_);
    if (!query_.exec()) {
      const QSqlError error = query_.lastError();
      query_.finish();
      timer.Fail(error, context_);
    }
    query_.finish();
  }

 private:
  Connection::Impl& connection_;
  QSqlQuery query_;
  std::string context_;
};

class QtBackend final : public Backend {
 public:
  explicit QtBackend(Connection::Impl& c) : connection_(c) {}

  int Execute(const std::string& sql) override {
    // One query object serves every statement: a run executes one statement per data line.
    if (!query_) {
      query_.emplace(connection_.db);
      query_->setForwardOnly(true);
    }
    StatementTimer timer(connection_);
    if (!query_->exec(ToQt(sql))) {
      const QSqlError error = query_->lastError();
      query_->finish();
      timer.Fail(error, "", StatementNote(sql));
    }
    const int rows = query_->numRowsAffected();
    query_->finish();  // releases the statement, so that nothing holds a lock
    return rows < 0 ? 0 : rows;
  }

  std::unique_ptr<InsertStatement> PrepareInsert(const std::string& sql,
                                                 const std::string& context) override {
    QSqlQuery q(connection_.db);
    q.setForwardOnly(true);
    StatementTimer timer(connection_);
    if (!q.prepare(ToQt(sql))) timer.Fail(q.lastError(), context);
    return std::make_unique<QtInsert>(connection_, std::move(q), context);
  }

 private:
  Connection::Impl& connection_;
  std::optional<QSqlQuery> query_;
};

}  // namespace

std::unique_ptr<Backend> MakeQtBackend(Connection::Impl& c) {
  return std::make_unique<QtBackend>(c);
}

}  // namespace db::detail
