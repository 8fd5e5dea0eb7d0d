// The helpers shared by the sources of the database layer: text conversions, error
// messages, and the statement holders of a connection.

#include <algorithm>

#include <QSqlQuery>
#include <QStringDecoder>
#include <QVariant>

#include "db/Internal.h"

namespace db::detail {

std::string ToStd(const QString& s) {
  const QByteArray bytes = s.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString ToQt(std::string_view s) {
  // QString::fromUtf8 takes a byte order mark at the start for a signature and drops it;
  // inside a cell it is a character like any other.
  if (s.size() >= 3 && s.substr(0, 3) == "\xEF\xBB\xBF") {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
  }
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string ErrorText(const QSqlError& error) {
  QString text = error.databaseText().trimmed();
  if (text.isEmpty()) text = error.driverText().trimmed();
  // PostgreSQL adds lines that point into the statement; the statement is quoted by
  // the caller, so its first line is the message.
  const qsizetype lineEnd = text.indexOf('\n');
  if (lineEnd >= 0) text = text.left(lineEnd).trimmed();
  if (text.startsWith("ERROR:")) text = text.mid(6).trimmed();
  if (text.startsWith("FATAL:")) text = text.mid(6).trimmed();
  if (text.isEmpty()) return "unknown error";
  return ToStd(text);
}

std::string Scrub(std::string text, const std::string& password) {
  if (password.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(password, pos)) != std::string::npos) {
    text.replace(pos, password.size(), "***");
    pos += 3;
  }
  return text;
}

std::string StatementStart(std::string_view sql, std::size_t limit) {
  std::string out;
  bool blank = false;
  std::size_t i = 0;
  for (; i < sql.size() && out.size() < limit; ++i) {
    const char ch = sql[i];
    if (ch == '\r' || ch == '\n' || ch == '\t') {
      if (!blank && !out.empty()) out += ' ';
      blank = true;
      continue;
    }
    blank = ch == ' ';
    out += ch;
  }
  if (i < sql.size()) {
    // Do not cut a multi-byte character in two.
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
    if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
    out += "...";
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

EngineError QtEngineError(const QSqlError& error) {
  return {ToStd(error.nativeErrorCode()), ErrorText(error)};
}

void Fail(const Connection::Impl& c, const std::string& what, const EngineError& engine) {
  // The description is ours and holds no password; the cause may quote the engine.
  throw EDatabaseError(c.description + ": " + Scrub(what, c.password), engine.code,
                       Scrub(engine.text, c.password));
}

std::string StatementNote(const std::string& sql) {
  return " (statement: " + StatementStart(sql) + ")";
}

QSqlDatabase& OpenDatabase(Connection::Impl& c) {
  if (!c.open || !c.db.isOpen()) Fail(c, "the connection is not open");
  return c.db;
}

Connection::Impl& ConnectionOf(const StatementHolder& holder) {
  if (!holder.connection) throw EDatabaseError("The database connection no longer exists");
  return *holder.connection;
}

std::string RepairedUtf8(std::string_view s) { return ToStd(ToQt(s)); }

void Register(StatementHolder& holder, Connection::Impl& c) {
  holder.connection = &c;
  c.holders.push_back(&holder);
}

void Unregister(StatementHolder& holder) {
  if (!holder.connection) return;
  auto& list = holder.connection->holders;
  list.erase(std::remove(list.begin(), list.end(), &holder), list.end());
  holder.connection = nullptr;
}

// Runs one setting statement; returns the first column of its first row, if any.
std::optional<QString> Pragma(Connection::Impl& c, const QString& text) {
  QSqlQuery q(c.db);
  q.setForwardOnly(true);
  StatementTimer timer(c);
  if (!q.exec(text)) timer.Fail(q.lastError());
  std::optional<QString> result;
  if (q.next()) result = q.value(0).toString();
  q.finish();
  return result;
}

int PositiveNumber(const Connection::Impl& c, const std::string& name, int def, int max) {
  const std::string text = c.settings.Get(name);
  if (text.empty()) return def;
  int value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9' || value > max / 10) {
      throw EDatabaseError("Invalid connection string: \"" + name +
                           "\" must be a whole number from 0 to " + std::to_string(max));
    }
    value = value * 10 + (ch - '0');
  }
  if (value > max) {
    throw EDatabaseError("Invalid connection string: \"" + name +
                         "\" must be a whole number from 0 to " + std::to_string(max));
  }
  return value;
}

}  // namespace db::detail
