// The table dataset: the columns of one table, a row buffer for insertion and the
// prepared INSERT statements that write it.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "db/Database.h"
#include "db/Internal.h"

namespace db {

namespace detail {

enum class ColumnKind { Text, Integer, Double, Boolean, Other };

// What a column's value is written as.
enum class BoundType : unsigned char { Null, Text, Integer, Double, Boolean };

// A column name with letter case removed: ASCII names byte by byte (the common case,
// looked up for every column of every row), others through Unicode case folding.
std::string FoldName(std::string_view name) {
  std::string out(name);
  for (char& ch : out) {
    if (static_cast<unsigned char>(ch) >= 0x80) return ToStd(ToQt(name).toCaseFolded());
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

// One column of the open table and its value in the row being inserted.
class Field final : public TField {
 public:
  Field(const TDataSetState& state, std::string tableName, std::string name, ColumnKind kind,
        int intBits, bool readOnly, bool fixedReadOnly)
      : state_(state),
        tableName_(std::move(tableName)),
        name_(std::move(name)),
        kind_(kind),
        intBits_(intBits),
        readOnly_(readOnly),
        fixedReadOnly_(fixedReadOnly) {}

  std::string FieldName() const override { return name_; }
  bool ReadOnly() const override { return readOnly_; }

  void SetReadOnly(bool readOnly) override {
    if (!readOnly && fixedReadOnly_) {
      throw EDatabaseError("Field '" + name_ +
                           "' is computed by the database and cannot be made writable");
    }
    readOnly_ = readOnly;
  }

  Variant Value() const override { return assigned_ ? value_ : Variant::Null(); }

  void SetValue(const Variant& value) override {
    if (state_ != dsInsert && state_ != dsEdit) {
      throw EDatabaseError(tableName_ + ": Dataset not in edit or insert mode");
    }
    if (readOnly_) throw EDatabaseError("Field '" + name_ + "' cannot be modified");
    Convert(value);
    assigned_ = true;
  }

  // The name as FindField compares it.
  const std::string& FoldedName() const { return folded_; }
  bool Assigned() const { return assigned_; }
  const std::string& Name() const { return name_; }
  // The old value stays behind unread (Value answers Null) until the column is set
  // again, which saves releasing it for every row.
  void Clear() { assigned_ = false; }
  // The value as Qt's drivers take it: a null of the column's type, a text, a 64-bit
  // integer, a double or a boolean.
  QVariant QtBound() const;
  // Binds the value to parameter `index` of an SQLite statement; SQLite's result code.
  // A text is bound in place: it must stay unchanged until the statement has run.
  int BindSqlite(sqlite3_stmt* statement, int index) const;

 private:
  [[noreturn]] void Invalid() const {
    throw EDatabaseError("Invalid value for field '" + name_ + "'");
  }
  void SetNull();
  void SetText(std::string text);
  void SetInteger(std::int64_t v);
  void SetDouble(double v);
  void SetBoolean(bool v);
  void Convert(const Variant& value);
  std::int64_t ToInteger(const Variant& value) const;
  double ToDouble(const Variant& value) const;

  const TDataSetState& state_;
  std::string tableName_;
  std::string name_;
  std::string folded_ = FoldName(name_);
  ColumnKind kind_;
  int intBits_;
  bool readOnly_;
  bool fixedReadOnly_;
  bool assigned_ = false;
  Variant value_;
  BoundType bound_ = BoundType::Null;
  std::int64_t boundInt_ = 0;  // Integer; Boolean as 0 or 1
  double boundDouble_ = 0;     // Double; a Text is value_'s text
};

namespace {

std::string TrimText(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// A number written with "." or "," as its decimal mark, no digit grouping; whole text.
std::optional<double> ParseNumber(const std::string& text) {
  std::string t = TrimText(text);
  if (t.empty()) return std::nullopt;
  if (t.find('.') == std::string::npos) {
    const std::size_t comma = t.find(',');
    if (comma != std::string::npos && t.find(',', comma + 1) == std::string::npos) t[comma] = '.';
  }
  if (t.front() == '+') t.erase(0, 1);
  double v = 0;
  const char* end = t.data() + t.size();
  auto [p, ec] = std::from_chars(t.data(), end, v, std::chars_format::general);
  if (ec != std::errc() || p != end || !std::isfinite(v)) return std::nullopt;
  return v;
}

bool IsIntegral(std::uint16_t t) {
  return t == varSmallint || t == varInteger || t == varShortInt || t == varByte;
}

bool IsFloating(std::uint16_t t) {
  return t == varSingle || t == varDouble || t == varCurrency || t == varDate;
}

std::string DoubleText(double v) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, p) : std::string();
}

std::string Two(int v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); }

// A date-time (days since 1899-12-30) as "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss".
std::string DateTimeText(double dt) {
  double whole = std::trunc(dt);
  double frac = std::fabs(dt - whole);
  long long seconds = std::llround(frac * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += dt < 0 ? -1 : 1;
  }
  // Days since 1970-01-01, then the civil date (proleptic Gregorian calendar).
  long long z = static_cast<long long>(whole) - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  if (m <= 2) ++y;
  std::string text = std::to_string(y);
  while (text.size() < 4) text.insert(text.begin(), '0');
  text += "-" + Two(m) + "-" + Two(d);
  if (seconds != 0) {
    const int s = static_cast<int>(seconds);
    text += " " + Two(s / 3600) + ":" + Two(s / 60 % 60) + ":" + Two(s % 60);
  }
  return text;
}

}  // namespace

void Field::SetNull() {
  value_ = Variant::Null();
  bound_ = BoundType::Null;
}

void Field::SetText(std::string text) {
  bound_ = BoundType::Text;
  value_ = Variant(std::move(text));
}

void Field::SetInteger(std::int64_t v) {
  bound_ = BoundType::Integer;
  boundInt_ = v;
  if (v >= std::numeric_limits<std::int32_t>::min() &&
      v <= std::numeric_limits<std::int32_t>::max()) {
    value_ = Variant::Integer(static_cast<std::int32_t>(v));
  } else {
    value_ = Variant::Double(static_cast<double>(v));
  }
}

void Field::SetDouble(double v) {
  bound_ = BoundType::Double;
  boundDouble_ = v;
  value_ = Variant::Double(v);
}

void Field::SetBoolean(bool v) {
  bound_ = BoundType::Boolean;
  boundInt_ = v ? 1 : 0;
  value_ = Variant::Boolean(v);
}

QVariant Field::QtBound() const {
  switch (bound_) {
    case BoundType::Null:
      switch (kind_) {
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
      return QVariant(ToQt(value_.Text()));
    case BoundType::Integer:
      return QVariant(static_cast<qlonglong>(boundInt_));
    case BoundType::Double:
      return QVariant(boundDouble_);
    case BoundType::Boolean:
      return QVariant(boundInt_ != 0);
  }
  return QVariant();
}

int Field::BindSqlite(sqlite3_stmt* statement, int index) const {
  switch (bound_) {
    case BoundType::Null:
      return sqlite3_bind_null(statement, index);
    case BoundType::Text: {
      const std::string& text = value_.Text();
      if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return SQLITE_TOOBIG;
      }
      if (ValidUtf8(text)) {
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
      return sqlite3_bind_int64(statement, index, boundInt_);
    case BoundType::Double:
      return sqlite3_bind_double(statement, index, boundDouble_);
  }
  return SQLITE_MISUSE;
}

std::int64_t Field::ToInteger(const Variant& value) const {
  const std::uint16_t t = value.VType();
  double d = 0;
  if (IsIntegral(t)) {
    d = static_cast<double>(value.IntValue());
    if (intBits_ >= 64) return value.IntValue();
  } else if (t == varBoolean) {
    return value.BoolValue() ? 1 : 0;
  } else if (IsFloating(t)) {
    d = value.DoubleValue();
  } else if (t == varString || t == varOleStr) {
    const std::string text = TrimText(value.Text());
    std::int64_t i = 0;
    const char* b = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    const char* e = text.data() + text.size();
    auto [p, ec] = std::from_chars(b, e, i);
    if (ec == std::errc() && p == e && b != e) {
      d = static_cast<double>(i);
      if (intBits_ >= 64) return i;
    } else {
      const std::optional<double> parsed = ParseNumber(text);
      if (!parsed) Invalid();
      d = *parsed;
    }
  } else {
    Invalid();
  }
  if (!std::isfinite(d) || d != std::trunc(d)) Invalid();
  const double limit = std::ldexp(1.0, intBits_ - 1);
  if (d < -limit || d >= limit) Invalid();
  return static_cast<std::int64_t>(d);
}

double Field::ToDouble(const Variant& value) const {
  const std::uint16_t t = value.VType();
  double d = 0;
  if (IsIntegral(t)) {
    d = static_cast<double>(value.IntValue());
  } else if (t == varBoolean) {
    d = value.BoolValue() ? 1 : 0;
  } else if (IsFloating(t)) {
    d = value.DoubleValue();
  } else if (t == varString || t == varOleStr) {
    const std::optional<double> parsed = ParseNumber(value.Text());
    if (!parsed) Invalid();
    d = *parsed;
  } else {
    Invalid();
  }
  if (!std::isfinite(d)) Invalid();
  return d;
}

void Field::Convert(const Variant& value) {
  const std::uint16_t t = value.VType();
  // Empty clears the column as Null does; so does a blank text for a column that is not
  // a text column.
  if (t == varNull || t == varEmpty) return SetNull();
  const bool isText = t == varString || t == varOleStr;
  if (isText && kind_ != ColumnKind::Text && kind_ != ColumnKind::Other &&
      TrimText(value.Text()).empty()) {
    return SetNull();
  }
  switch (kind_) {
    case ColumnKind::Text:
      if (isText) return SetText(value.Text());
      if (IsIntegral(t)) return SetText(std::to_string(value.IntValue()));
      if (t == varBoolean) return SetText(value.BoolValue() ? "True" : "False");
      if (t == varDate) {
        if (!std::isfinite(value.DoubleValue())) Invalid();
        return SetText(DateTimeText(value.DoubleValue()));
      }
      if (IsFloating(t)) {
        if (!std::isfinite(value.DoubleValue())) Invalid();
        return SetText(DoubleText(value.DoubleValue()));
      }
      Invalid();
    case ColumnKind::Integer:
      return SetInteger(ToInteger(value));
    case ColumnKind::Double:
      return SetDouble(ToDouble(value));
    case ColumnKind::Boolean:
      if (isText) {
        const QString s = ToQt(TrimText(value.Text())).toLower();
        if (s == "true" || s == "1" || s == "yes") return SetBoolean(true);
        if (s == "false" || s == "0" || s == "no") return SetBoolean(false);
        Invalid();
      }
      return SetBoolean(ToDouble(value) != 0);
    case ColumnKind::Other:
      if (isText) return SetText(value.Text());
      if (IsIntegral(t)) return SetInteger(value.IntValue());
      if (t == varBoolean) return SetInteger(value.BoolValue() ? 1 : 0);
      return SetDouble(ToDouble(value));
  }
  Invalid();
}

}  // namespace detail

using detail::ColumnKind;
using detail::Field;

// Names whose answers FindField keeps; the import asks for a few dozen.
constexpr std::size_t kFoundLimit = 256;

struct Table::Impl final : detail::StatementHolder {
  std::string tableName;
  QString target;  // the table as the INSERT statements name it
  TDataSetState state = dsInactive;
  std::vector<std::unique_ptr<Field>> fields;
  std::map<std::vector<bool>, QSqlQuery> inserts;  // by the set of columns written
  // The same on a connection that SQLite serves directly.
  using SqliteStatement = std::unique_ptr<sqlite3_stmt, detail::StatementDeleter>;
  std::map<std::vector<bool>, SqliteStatement> sqliteInserts;
  // The columns of the row being posted, and the statement that wrote the last row
  // (rows of an import mostly set the same columns).
  std::vector<bool> mask;
  const std::vector<bool>* lastMask = nullptr;
  sqlite3_stmt* lastInsert = nullptr;
  // FindField's answers by the name as asked: the index of the column, or the number
  // of columns when the table has none of that name; and where to look first.
  std::vector<std::pair<std::string, std::size_t>> found;
  std::size_t nextFound = 0;
  int disableCount = 0;
  std::function<void(bool)> listener;

  explicit Impl(Connection::Impl& c) { detail::Register(*this, c); }
  ~Impl() {
    // Statements go before their connection does.
    DropStatements();
    detail::Unregister(*this);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  void DropStatements() override {
    inserts.clear();
    lastMask = nullptr;
    lastInsert = nullptr;
    sqliteInserts.clear();
  }

  void Notify(bool enabled) const {
    if (listener) listener(enabled);
  }
  void ClearRow() {
    for (auto& f : fields) f->Clear();
  }
  [[noreturn]] void Fail(const std::string& what) const {
    detail::Fail(detail::ConnectionOf(*this), "table \"" + tableName + "\": " + what);
  }
  void AddField(const std::string& name, ColumnKind kind, int intBits, bool readOnly,
                bool fixedReadOnly) {
    fields.push_back(
        std::make_unique<Field>(state, tableName, name, kind, intBits, readOnly, fixedReadOnly));
  }
  QSqlQuery Run(QSqlDatabase& db, const QString& sql, const QVariantList& args) const {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    detail::StatementTimer timer(detail::ConnectionOf(*this));
    if (!q.prepare(sql)) Fail(timer.Error(q.lastError()));
    for (int i = 0; i < args.size(); ++i) q.bindValue(i, args[i]);
    if (!q.exec()) Fail(timer.Error(q.lastError()));
    return q;
  }
  void LoadSqliteColumns(QSqlDatabase& db);
  void LoadPostgresColumns(QSqlDatabase& db);
  void LoadOtherColumns(QSqlDatabase& db);
  QString InsertSql(QSqlDatabase& db, const std::vector<bool>& columns) const;
  QSqlQuery& InsertStatement(QSqlDatabase& db, const std::vector<bool>& columns);
  sqlite3_stmt* SqliteInsert(Connection::Impl& connection);
  void PostQt(QSqlDatabase& db);
  void PostSqlite(Connection::Impl& connection);
};

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

}  // namespace

void Table::Impl::LoadSqliteColumns(QSqlDatabase& db) {
  QSqlQuery names = Run(db,
                        "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
                        "AND name = ? COLLATE NOCASE",
                        {detail::ToQt(tableName)});
  if (!names.next()) Fail("no such table");
  const QString actual = names.value(0).toString();
  names.finish();
  target = db.driver()->escapeIdentifier(actual, QSqlDriver::TableName);

  struct Column {
    QString name, type;
    int pk, hidden;
  };
  std::vector<Column> columns;
  QSqlQuery info = Run(db, "SELECT name, type, pk, hidden FROM pragma_table_xinfo(?)", {actual});
  int pkCount = 0;
  while (info.next()) {
    columns.push_back({info.value(0).toString(), info.value(1).toString(), info.value(2).toInt(),
                       info.value(3).toInt()});
    if (columns.back().pk > 0) ++pkCount;
  }
  info.finish();
  for (const Column& c : columns) {
    if (c.hidden == 1) continue;  // hidden columns of virtual tables
    const bool generated = c.hidden == 2 || c.hidden == 3;
    // A single INTEGER PRIMARY KEY is the row id: the database numbers new rows.
    const bool rowId =
        pkCount == 1 && c.pk == 1 && c.type.compare("INTEGER", Qt::CaseInsensitive) == 0;
    AddField(detail::ToStd(c.name), SqliteKind(c.type), 64, generated || rowId, generated);
  }
}

void Table::Impl::LoadPostgresColumns(QSqlDatabase& db) {
  QSqlQuery rel = Run(db, "SELECT to_regclass(?::text)::text", {detail::ToQt(tableName)});
  if (!rel.next() || rel.value(0).isNull()) Fail("no such table");
  target = rel.value(0).toString();
  rel.finish();
  QSqlQuery info = Run(db,
                       "SELECT a.attname, format_type(a.atttypid, a.atttypmod), "
                       "a.attidentity::text, a.attgenerated::text, "
                       "coalesce(pg_get_expr(d.adbin, d.adrelid), '') "
                       "FROM pg_attribute a LEFT JOIN pg_attrdef d "
                       "ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
                       "WHERE a.attrelid = to_regclass(?::text) AND a.attnum > 0 "
                       "AND NOT a.attisdropped ORDER BY a.attnum",
                       {detail::ToQt(tableName)});
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
    AddField(detail::ToStd(info.value(0).toString()), kind, bits, automatic, fixed);
  }
  info.finish();
}

void Table::Impl::LoadOtherColumns(QSqlDatabase& db) {
  const QSqlRecord record = db.record(detail::ToQt(tableName));
  if (record.isEmpty()) Fail("no such table");
  target = db.driver()->escapeIdentifier(detail::ToQt(tableName), QSqlDriver::TableName);
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
    AddField(detail::ToStd(f.name()), kind, 64, f.isAutoValue() || f.isReadOnly(), f.isReadOnly());
  }
}

QString Table::Impl::InsertSql(QSqlDatabase& db, const std::vector<bool>& written) const {
  QString columns;
  QString marks;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!written[i]) continue;
    if (!columns.isEmpty()) {
      columns += ", ";
      marks += ", ";
    }
    columns +=
        db.driver()->escapeIdentifier(detail::ToQt(fields[i]->Name()), QSqlDriver::FieldName);
    marks += "?";
  }
  return columns.isEmpty() ? "INSERT INTO " + target + " DEFAULT VALUES"
                           : "INSERT INTO " + target + " (" + columns + ") VALUES (" + marks + ")";
}

QSqlQuery& Table::Impl::InsertStatement(QSqlDatabase& db, const std::vector<bool>& written) {
  auto it = inserts.find(written);
  if (it != inserts.end()) return it->second;
  QSqlQuery q(db);
  q.setForwardOnly(true);
  detail::StatementTimer timer(detail::ConnectionOf(*this));
  if (!q.prepare(InsertSql(db, written))) Fail(timer.Error(q.lastError()));
  return inserts.emplace(written, std::move(q)).first->second;
}

sqlite3_stmt* Table::Impl::SqliteInsert(Connection::Impl& c) {
  if (lastMask != nullptr && *lastMask == mask) return lastInsert;
  auto it = sqliteInserts.find(mask);
  if (it == sqliteInserts.end()) {
    const std::string sql = detail::ToStd(InsertSql(c.db, mask));
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(c.sqlite, sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    SqliteStatement statement(raw);
    if (rc != SQLITE_OK) Fail(detail::SqliteErrorText(c.sqlite));
    if (!statement) Fail("No query");
    it = sqliteInserts.emplace(mask, std::move(statement)).first;
  }
  lastMask = &it->first;
  lastInsert = it->second.get();
  return lastInsert;
}

void Table::Impl::PostQt(QSqlDatabase& db) {
  QSqlQuery& q = InsertStatement(db, mask);
  int position = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (mask[i]) q.bindValue(position++, fields[i]->QtBound());
  }
  detail::StatementTimer timer(detail::ConnectionOf(*this));
  if (!q.exec()) {
    const std::string error = timer.Error(q.lastError());
    q.finish();
    Fail(error);
  }
  q.finish();
}

void Table::Impl::PostSqlite(Connection::Impl& c) {
  sqlite3_stmt* statement = SqliteInsert(c);
  // The statement is left reset and without values however the post ends: nothing
  // keeps a lock, and no text of this row is referred to after it.
  struct Release {
    sqlite3_stmt* statement;
    ~Release() {
      sqlite3_reset(statement);
      sqlite3_clear_bindings(statement);
    }
  } release{statement};
  int position = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!mask[i]) continue;
    if (fields[i]->BindSqlite(statement, ++position) != SQLITE_OK) {
      Fail(detail::SqliteErrorText(c.sqlite));
    }
  }
  const int rc = sqlite3_step(statement);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(detail::SqliteErrorText(c.sqlite));
}

Table::Table(Connection& connection) : impl_(std::make_unique<Impl>(*connection.impl_)) {}

Table::~Table() = default;

void Table::SetTableName(const std::string& name) { impl_->tableName = name; }

const std::string& Table::TableName() const { return impl_->tableName; }

bool Table::Active() const { return impl_->state != dsInactive; }

void Table::Open() {
  Impl& t = *impl_;
  if (t.state != dsInactive) return;
  Connection::Impl& connection = detail::ConnectionOf(t);
  QSqlDatabase& db = detail::OpenDatabase(connection);
  if (t.tableName.empty()) detail::Fail(connection, "no table name is given");
  t.fields.clear();
  t.found.clear();
  t.DropStatements();
  try {
    switch (connection.engine) {
      case Engine::SQLite:
        t.LoadSqliteColumns(db);
        break;
      case Engine::PostgreSQL:
        t.LoadPostgresColumns(db);
        break;
      case Engine::ODBC:
        t.LoadOtherColumns(db);
        break;
    }
  } catch (...) {
    t.fields.clear();
    throw;
  }
  t.state = dsBrowse;
  if (t.disableCount == 0) t.Notify(true);
}

void Table::Close() {
  Impl& t = *impl_;
  if (t.state == dsInactive) return;
  t.state = dsInactive;  // a row being inserted is discarded
  t.DropStatements();
  t.fields.clear();
  t.found.clear();
  if (t.disableCount == 0) t.Notify(true);
}

TDataSetState Table::State() const { return impl_->state; }

void Table::Insert() {
  Impl& t = *impl_;
  if (t.state == dsInactive) {
    throw EDatabaseError(t.tableName + ": Cannot perform this operation on a closed dataset");
  }
  if (t.state == dsInsert || t.state == dsEdit) {
    // The row in hand is written when it holds values, else dropped, before a new one.
    bool any = false;
    for (const auto& f : t.fields) any = any || f->Assigned();
    if (any) {
      Post();
    } else {
      Cancel();
    }
  }
  t.ClearRow();
  t.state = dsInsert;
}

TField* Table::FindField(const std::string& name) {
  Impl& t = *impl_;
  // The record asks for its columns in the same order for every row it stores: answers
  // are kept in the order asked, and the next question is most likely the next one.
  auto answer = [&](std::size_t k) -> TField* {
    t.nextFound = k + 1;
    const std::size_t index = t.found[k].second;
    return index < t.fields.size() ? t.fields[index].get() : nullptr;
  };
  const std::size_t kept = t.found.size();
  for (std::size_t n = 0; n < kept; ++n) {
    const std::size_t k = (t.nextFound + n) % kept;
    if (t.found[k].first == name) return answer(k);
  }
  const std::string wanted = detail::FoldName(name);
  std::size_t index = 0;
  while (index < t.fields.size() && t.fields[index]->FoldedName() != wanted) ++index;
  if (kept < kFoundLimit) {
    t.found.emplace_back(name, index);
    return answer(kept);
  }
  return index < t.fields.size() ? t.fields[index].get() : nullptr;
}

void Table::Post() {
  Impl& t = *impl_;
  if (t.state != dsInsert && t.state != dsEdit) {
    throw EDatabaseError(t.tableName + ": Dataset not in edit or insert mode");
  }
  Connection::Impl& connection = detail::ConnectionOf(t);
  QSqlDatabase& db = detail::OpenDatabase(connection);
  t.mask.resize(t.fields.size());
  for (std::size_t i = 0; i < t.fields.size(); ++i) t.mask[i] = t.fields[i]->Assigned();
  // A refused row stays in insert state for the caller to correct or cancel.
  if (connection.sqlite != nullptr) {
    t.PostSqlite(connection);
  } else {
    t.PostQt(db);
  }
  t.ClearRow();
  t.state = dsBrowse;
}

void Table::Cancel() {
  Impl& t = *impl_;
  if (t.state != dsInsert && t.state != dsEdit) return;
  t.ClearRow();
  t.state = dsBrowse;
}

void Table::DisableControls() {
  Impl& t = *impl_;
  if (t.disableCount++ == 0) t.Notify(false);
}

void Table::EnableControls() {
  Impl& t = *impl_;
  if (t.disableCount > 0) --t.disableCount;
  if (t.disableCount == 0) t.Notify(true);
}

bool Table::ControlsDisabled() const { return impl_->disableCount > 0; }

void Table::SetControlsListener(std::function<void(bool enabled)> listener) {
  impl_->listener = std::move(listener);
}

}  // namespace db
