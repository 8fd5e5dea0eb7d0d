// The table dataset's columns: values set on a column converted to what the column is
// written as.

#include "db/Field.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "db/Internal.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace db::detail {

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (char& ch : out) {
    if (static_cast<unsigned char>(ch) >= 0x80) return ToStd(ToQt(name).toCaseFolded());
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

namespace {

// A number written with "." or "," as its decimal mark, no digit grouping; whole text.
std::optional<double> ParseNumber(const std::string& text) {
  std::string t = platform::Trim(text);
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

// A date-time (days since 1899-12-30) as "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss", the time
// rounded to the second; nothing for a date outside the years 1 to 9999.
std::optional<std::string> DateTimeText(double dt) {
  double whole = std::trunc(dt);
  const double frac = std::fabs(dt - whole);
  long long seconds = std::llround(frac * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += dt < 0 ? -1 : 1;
  }
  int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, z = 0;
  if (!platform::TryDecodeDateTime(whole, y, m, d, h, n, s, z)) return std::nullopt;
  std::string text = std::to_string(y);
  while (text.size() < 4) text.insert(text.begin(), '0');
  text += "-" + Two(m) + "-" + Two(d);
  if (seconds != 0) {
    const int secs = static_cast<int>(seconds);
    text += " " + Two(secs / 3600) + ":" + Two(secs / 60 % 60) + ":" + Two(secs % 60);
  }
  return text;
}

}  // namespace

Field::Field(const TDataSetState& state, std::string tableName, std::string name, ColumnKind kind,
             int intBits, bool readOnly, bool fixedReadOnly)
    : state_(state),
      tableName_(std::move(tableName)),
      name_(std::move(name)),
      folded_(FoldName(name_)),
      kind_(kind),
      intBits_(intBits),
      readOnly_(readOnly),
      fixedReadOnly_(fixedReadOnly) {
  bound_.kind = kind;
}

void Field::SetReadOnly(bool readOnly) {
  if (!readOnly && fixedReadOnly_) {
    throw EDatabaseError("Field '" + name_ +
                         "' is computed by the database and cannot be made writable");
  }
  readOnly_ = readOnly;
}

void Field::SetValue(const Variant& value) {
  if (state_ != dsInsert && state_ != dsEdit) {
    throw EDatabaseError(tableName_ + ": Dataset not in edit or insert mode");
  }
  if (readOnly_) throw EDatabaseError("Field '" + name_ + "' cannot be modified");
  Convert(value);
  assigned_ = true;
}

void Field::Invalid() const { throw EDatabaseError("Invalid value for field '" + name_ + "'"); }

void Field::SetNull() {
  value_ = Variant::Null();
  bound_.type = BoundType::Null;
}

void Field::SetText(std::string text) {
  value_ = Variant(std::move(text));
  bound_.type = BoundType::Text;
  bound_.text = &value_.Text();
}

void Field::SetInteger(std::int64_t v) {
  bound_.type = BoundType::Integer;
  bound_.integer = v;
  if (v >= std::numeric_limits<std::int32_t>::min() &&
      v <= std::numeric_limits<std::int32_t>::max()) {
    value_ = Variant::Integer(static_cast<std::int32_t>(v));
  } else {
    value_ = Variant::Double(static_cast<double>(v));
  }
}

void Field::SetDouble(double v) {
  bound_.type = BoundType::Double;
  bound_.real = v;
  value_ = Variant::Double(v);
}

void Field::SetBoolean(bool v) {
  bound_.type = BoundType::Boolean;
  bound_.integer = v ? 1 : 0;
  value_ = Variant::Boolean(v);
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
    const std::string text = platform::Trim(value.Text());
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
      platform::Trim(value.Text()).empty()) {
    return SetNull();
  }
  switch (kind_) {
    case ColumnKind::Text:
      if (isText) return SetText(value.Text());
      if (IsIntegral(t)) return SetText(std::to_string(value.IntValue()));
      if (t == varBoolean) return SetText(value.BoolValue() ? "True" : "False");
      if (t == varDate) {
        std::optional<std::string> text = DateTimeText(value.DoubleValue());
        if (!text) Invalid();
        return SetText(std::move(*text));
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
        const QString s = ToQt(platform::Trim(value.Text())).toLower();
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

}  // namespace db::detail
