// ADO-style connection strings: "Name=Value;Name=Value;...".

#include <string_view>

#include "db/Database.h"
#include "platform/Ascii.h"

namespace db {

const char* const DesignTimeConnectionString =
    "Provider=Microsoft.Jet.OLEDB.4.0;"
    "Password=\"\";"
    "User ID=Admin;"
    "Data Source=dunvik.mdb;"
    "Mode=Share Deny None;"
    "Extended Properties=\"\";"
    "Jet OLEDB:System database=\"\";"
    "Jet OLEDB:Registry Path=\"\";"
    "Jet OLEDB:Database Password=\"\";"
    "Jet OLEDB:Engine Type=5;"
    "Jet OLEDB:Database Locking Mode=0;"
    "Jet OLEDB:Global Partial Bulk Ops=2;"
    "Jet OLEDB:Global Bulk Transactions=1;"
    "Jet OLEDB:New Database Password=\"\";"
    "Jet OLEDB:Create System Database=False;"
    "Jet OLEDB:Encrypt Database=False;"
    "Jet OLEDB:Don't Copy Locale on Compact=False;"
    "Jet OLEDB:Compact Without Replica Repair=False;"
    "Jet OLEDB:SFP=False";

namespace {

using platform::AsciiUpper;
using platform::IsBlankByte;

std::string TrimBlanks(std::string_view s) { return std::string(platform::TrimView(s)); }

}  // namespace

// A value may stand in double or single quotes; inside them the quote character is
// written twice, and ";" loses its meaning. An unquoted value runs to the next ";".
// Messages name the pair by its key only: the value may be a password.
ConnectionString ConnectionString::Parse(const std::string& text) {
  ConnectionString result;
  std::size_t pos = 0;
  const std::size_t n = text.size();
  int pair = 0;
  while (pos < n) {
    ++pair;
    std::size_t eq = pos;
    while (eq < n && text[eq] != '=' && text[eq] != ';') ++eq;
    std::string key = TrimBlanks(std::string_view(text).substr(pos, eq - pos));
    if (eq >= n || text[eq] == ';') {
      if (!key.empty()) {
        throw EDatabaseError("Invalid connection string: \"" + key +
                             "\" has no value (\"Name=Value\" expected)");
      }
      pos = eq + 1;  // an empty pair, e.g. a trailing ";"
      continue;
    }
    if (key.empty()) {
      throw EDatabaseError("Invalid connection string: pair " + std::to_string(pair) +
                           " has no name");
    }
    std::size_t v = eq + 1;
    while (v < n && text[v] != ';' && IsBlankByte(text[v])) ++v;
    std::string value;
    if (v < n && (text[v] == '"' || text[v] == '\'')) {
      const char quote = text[v];
      std::size_t i = v + 1;
      bool closed = false;
      while (i < n) {
        if (text[i] == quote) {
          if (i + 1 < n && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        value += text[i++];
      }
      if (!closed) {
        throw EDatabaseError("Invalid connection string: the value of \"" + key +
                             "\" has no closing quote");
      }
      while (i < n && text[i] != ';' && IsBlankByte(text[i])) ++i;
      if (i < n && text[i] != ';') {
        throw EDatabaseError("Invalid connection string: text after the quoted value of \"" + key +
                             "\"");
      }
      pos = i + 1;
    } else {
      std::size_t end = v;
      while (end < n && text[end] != ';') ++end;
      value = TrimBlanks(std::string_view(text).substr(v, end - v));
      pos = end + 1;
    }
    result.values[AsciiUpper(key)] = value;  // a repeated name: the last one holds
  }
  return result;
}

std::string ConnectionString::Get(const std::string& name, const std::string& def) const {
  auto it = values.find(AsciiUpper(name));
  return it == values.end() ? def : it->second;
}

}  // namespace db
