// SQL literals by database dialect.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "convert/Internal.h"
#include "convert/Smallfun.h"
#include "platform/Ascii.h"
#include "platform/DateTime.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"

std::string DefaultDataBaseTypeName;

namespace convert {
namespace {

enum class Dialect { Ora, Access, Asa };

// `upperName` is already trimmed and upper-cased. The test is by substring: "ORACLE"
// and "MyOra" are Oracle, "MSACCESS" is Access, anything else speaks the ASA forms.
Dialect DialectOf(std::string_view upperName) {
  if (upperName.find("ORA") != std::string_view::npos) return Dialect::Ora;
  if (upperName.find("ACCESS") != std::string_view::npos) return Dialect::Access;
  return Dialect::Asa;
}

// A text literal: each quote doubled, the whole in quotes.
void AppendQuoted(std::string& out, std::string_view text) {
  out.push_back('\'');
  for (;;) {
    const std::size_t quote = text.find('\'');
    if (quote == std::string_view::npos) break;
    out.append(text.data(), quote + 1);
    out.push_back('\'');
    text.remove_prefix(quote + 1);
  }
  out.append(text);
  out.push_back('\'');
}

}  // namespace
}  // namespace convert

std::string DateTimeToSQLConstant(TDateTime value, const std::string& dataBaseTypeName) {
  std::string name = platform::UpperCase(platform::TrimView(dataBaseTypeName));
  if (name.empty()) name = "ASA";
  if (value == 0.0) return "NULL";
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (!platform::TryDecodeDateTime(value, y, mo, d, h, mi, s, ms)) return "NULL";
  // The whole part as decoded: a time of day that rounds up to midnight has moved on
  // to the next date.
  TDateTime date = 0;
  platform::TryEncodeDate(y, mo, d, date);
  const bool timeOnly = date == 0.0;
  const bool withTime = h + mi + s + ms != 0;
  // "%.2d" is an integer of at least two digits with leading zeros (all fields here
  // are non-negative).
  char buf[96];
  switch (convert::DialectOf(name)) {
    case convert::Dialect::Ora:
      if (timeOnly) {
        std::snprintf(buf, sizeof buf, "To_Date('%.2d:%.2d:%.2d', 'hh24:mi:ss')", h, mi, s);
      } else if (withTime) {
        std::snprintf(buf, sizeof buf,
                      "To_Date('%.2d.%.2d.%.4d %.2d:%.2d:%.2d', "
                      "'dd.mm.yyyy hh24:mi:ss')",
                      d, mo, y, h, mi, s);
      } else {
        std::snprintf(buf, sizeof buf, "To_Date('%.2d.%.2d.%.4d', 'dd.mm.yyyy')", d, mo, y);
      }
      break;
    case convert::Dialect::Access:
      if (timeOnly) {
        std::snprintf(buf, sizeof buf, "#%.2d:%.2d:%.2d#", h, mi, s);
      } else if (withTime) {
        std::snprintf(buf, sizeof buf, "#%.2d/%.2d/%.4d %.2d:%.2d:%.2d#", mo, d, y, h, mi, s);
      } else {
        std::snprintf(buf, sizeof buf, "#%.2d/%.2d/%.4d#", mo, d, y);
      }
      break;
    case convert::Dialect::Asa:
      if (timeOnly) {
        std::snprintf(buf, sizeof buf, "'%.2d:%.2d:%.2d.%.3d'", h, mi, s, ms);
      } else if (withTime) {
        std::snprintf(buf, sizeof buf, "'%.4d/%.2d/%.2d %.2d:%.2d:%.2d.%.3d'", y, mo, d, h, mi, s,
                      ms);
      } else {
        std::snprintf(buf, sizeof buf, "'%.4d/%.2d/%.2d'", y, mo, d);
      }
      break;
  }
  return buf;
}

namespace convert {

void AppendSQLConstant(std::string& out, const Variant& value, const Variant& nullMarker,
                       const std::string& dataBaseTypeName) {
  // The working dialect is only needed for dates; the default is settled on every call.
  const std::string_view name = platform::TrimView(dataBaseTypeName);
  const bool defaultWasBlank = platform::TrimView(DefaultDataBaseTypeName).empty();
  if (defaultWasBlank) {
    const std::string upper = platform::UpperCase(name);
    DefaultDataBaseTypeName = upper.empty() ? std::string("ASA") : upper;
  }

  if (!value.IsNull() && !nullMarker.IsNull() && value.VType() == nullMarker.VType() &&
      value == nullMarker) {
    out += "NULL";
    return;
  }

  switch (value.VType()) {
    case varEmpty:
    case varNull:
      out += "NULL";
      return;
    case varSmallint:
    case varInteger: {
      char buf[16];
      const auto r =
          std::to_chars(buf, buf + sizeof buf, static_cast<std::int32_t>(value.IntValue()));
      out.append(buf, r.ptr);
      return;
    }
    case varSingle:
    case varDouble:
    case varCurrency: {
      // An infinity or NaN has no SQL number literal: it is no value.
      const double v = value.DoubleValue();
      char buf[400];
      char* end =
          std::isfinite(v) ? platform::FormatFixed(buf, buf + sizeof buf, v, 7, '.') : nullptr;
      if (end) {
        out.append(buf, end);
      } else {
        out += "NULL";
      }
      return;
    }
    case varDate: {
      std::string dialect;
      if (!name.empty()) {
        dialect = platform::UpperCase(name);
      } else if (!defaultWasBlank) {
        dialect = platform::UpperCase(platform::TrimView(DefaultDataBaseTypeName));
      }
      out += DateTimeToSQLConstant(value.DoubleValue(), dialect);
      return;
    }
    case varBoolean:
      out.push_back(value.BoolValue() ? '1' : '0');
      return;
    case varShortInt:
    case varByte:
      AppendQuoted(out, ByteToText(static_cast<unsigned char>(value.IntValue() & 0xFF)));
      return;
    case varString:
      AppendQuoted(out, platform::TrimView(value.Text()));
      return;
    default:
      out += "''";
      return;
  }
}

}  // namespace convert

std::string VarToSQLConstant(Variant value, Variant nullMarker, const std::string& format,
                             const std::string& dataBaseTypeName) {
  (void)format;  // part of the signature; the literal does not depend on it
  std::string out;
  convert::AppendSQLConstant(out, value, nullMarker, dataBaseTypeName);
  return out;
}

std::string VarToASAConstant(Variant value, Variant nullMarker, const std::string& format) {
  return VarToSQLConstant(std::move(value), std::move(nullMarker), format, "ASA");
}

std::string VarToORAConstant(Variant value, Variant nullMarker, const std::string& format) {
  return VarToSQLConstant(std::move(value), std::move(nullMarker), format, "ORA");
}
