// The connection to the database (which engine, opening, closing) and the statement
// query, which the connection's back end runs.

#include <atomic>
#include <string>

#include "db/Backend.h"
#include "db/Database.h"
#include "db/Internal.h"
#include "platform/Ascii.h"

namespace db {

namespace {
std::atomic<unsigned> connectionCounter{0};
}  // namespace

Connection::Connection(const std::string& connectionString) : impl_(std::make_unique<Impl>()) {
  detail::ConfigureSqliteOnce();
  Impl& c = *impl_;
  c.settings = ConnectionString::Parse(connectionString);
  c.password = c.settings.Get("Password");
  c.qtName = "tankload-db-" + std::to_string(++connectionCounter);
  // Milliseconds to wait for a lock that another connection holds.
  c.busyTimeoutMs = detail::PositiveNumber(c, "Busy Timeout", 5000, 3600000);
  // Seconds a statement may take (ADO's name and default; 0 for no limit).
  c.commandTimeoutS = detail::PositiveNumber(c, "Command Timeout", 30, 86400);
  const std::string provider = c.settings.Get("Provider");
  const std::string key = platform::AsciiUpper(provider);
  if (key.empty()) {
    throw EDatabaseError(
        "The connection string names no database provider (\"Provider=...\"); known "
        "providers: Microsoft.Jet.OLEDB.4.0, Microsoft.ACE.OLEDB.12.0, SQLite, PostgreSQL, "
        "ODBC");
  }
  if (key == "MICROSOFT.JET.OLEDB.4.0" || key == "MICROSOFT.ACE.OLEDB.12.0" ||
      key == "MICROSOFT.ACE.OLEDB.16.0" || key == "SQLITE") {
    c.engine = Engine::SQLite;
    const std::string file = c.settings.Get("Data Source");
    c.description = "SQLite database " + file;
  } else if (key == "POSTGRESQL") {
    c.engine = Engine::PostgreSQL;
    c.description = detail::ServerDescription(c.settings);
  } else if (key == "ODBC" || key == "MSDASQL") {
    c.engine = Engine::ODBC;
    std::string name = c.settings.Get("Data Source", c.settings.Get("DSN"));
    if (name.empty()) name = c.settings.Get("Driver");
    c.description = "ODBC data source " + (name.empty() ? std::string("(none)") : name);
  } else {
    throw EDatabaseError(
        detail::Scrub("Unknown database provider \"" + provider +
                          "\" in the connection string; known providers: Microsoft.Jet.OLEDB.4.0, "
                          "Microsoft.ACE.OLEDB.12.0, SQLite, PostgreSQL, ODBC",
                      c.password));
  }
  // The Qt connection exists from here on, so a model made before Open shares it.
  const char* driver = c.engine == Engine::SQLite       ? "QSQLITE"
                       : c.engine == Engine::PostgreSQL ? "QPSQL"
                                                        : "QODBC";
  if (QSqlDatabase::isDriverAvailable(driver)) {
    c.db = QSqlDatabase::addDatabase(driver, detail::ToQt(c.qtName));
  }
}

Connection::~Connection() {
  Close();
  for (detail::StatementHolder* h : impl_->holders) h->connection = nullptr;
  if (impl_->db.isValid()) {
    impl_->db = QSqlDatabase();
    QSqlDatabase::removeDatabase(detail::ToQt(impl_->qtName));
  }
}

namespace {

using detail::OpenMode;

void OpenConnection(Connection::Impl& c, OpenMode mode) {
  if (c.open) return;
  c.readOnly = mode == OpenMode::ReadOnly;
  switch (c.engine) {
    case Engine::SQLite:
      detail::OpenSqlite(c, mode);
      break;
    case Engine::PostgreSQL:
      detail::OpenPostgres(c);
      break;
    case Engine::ODBC:
      detail::OpenOdbc(c);
      break;
  }
  // A writable SQLite connection runs the import's statements through SQLite itself
  // where it can; everything else goes through Qt.
  if (c.engine == Engine::SQLite && !c.readOnly) c.backend = detail::MakeSqliteBackend(c);
  if (!c.backend) c.backend = detail::MakeQtBackend(c);
  c.open = true;
}

}  // namespace

void Connection::Open(bool createSqliteFile) {
  OpenConnection(*impl_, createSqliteFile ? OpenMode::Create : OpenMode::Write);
}

void Connection::OpenReadOnly() { OpenConnection(*impl_, OpenMode::ReadOnly); }

void Connection::Close() {
  Impl& c = *impl_;
  // Prepared statements belong to the session that ends here.
  for (detail::StatementHolder* h : c.holders) h->DropStatements();
  c.backend.reset();
  c.watchdog.reset();
  if (c.db.isValid() && c.db.isOpen()) c.db.close();
  c.open = false;
}

bool Connection::ReadOnly() const { return impl_->readOnly; }

bool Connection::Connected() const { return impl_->open && impl_->db.isOpen(); }

Engine Connection::engine() const { return impl_->engine; }

std::string Connection::Describe() const { return impl_->description; }

QSqlDatabase Connection::Database() const { return impl_->db; }

// ---- Query ----

// A query keeps no statement of its own: the connection's back end runs each one and
// releases it at once, so that nothing holds a lock between statements.
struct Query::Impl final : detail::StatementHolder {
  std::string sql;
  explicit Impl(Connection::Impl& c) { detail::Register(*this, c); }
  ~Impl() { detail::Unregister(*this); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  void DropStatements() override {}
};

Query::Query(Connection& connection) : impl_(std::make_unique<Impl>(*connection.impl_)) {}

Query::~Query() = default;

void Query::SetSQL(const std::string& text) {
  Close();
  impl_->sql = text;
}

const std::string& Query::SQL() const { return impl_->sql; }

int Query::ExecSQL() {
  Connection::Impl& connection = detail::ConnectionOf(*impl_);
  detail::OpenDatabase(connection);
  return connection.backend->Execute(impl_->sql);
}

// A statement is finished as soon as it has run: no query stays active.
bool Query::Active() const { return false; }

void Query::Close() {}

}  // namespace db
