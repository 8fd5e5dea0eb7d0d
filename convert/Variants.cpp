// Variant text and number conversion.

#include <cmath>
#include <cstdint>

#include "convert/Internal.h"
#include "convert/Smallfun.h"
#include "platform/Ascii.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"

namespace convert {

std::string ByteToText(unsigned char byte) {
  std::string out;
  platform::AppendUtf8(out, platform::Win1251ToChar(byte));
  return out;
}

namespace {

// The byte of a one-byte variant. A negative short integer gives its low byte, so both
// one-byte types read as 0 to 255.
unsigned char ByteOf(const Variant& v) { return static_cast<unsigned char>(v.IntValue() & 0xFF); }

}  // namespace
}  // namespace convert

std::string VarTypeAsString(Variant value) {
  switch (value.VType()) {
    case varEmpty:
      return "varEmpty";
    case varNull:
      return "varNull";
    case varSmallint:
      return "varSmallint";
    case varInteger:
      return "varInteger";
    case varSingle:
      return "varSingle";
    case varDouble:
      return "varDouble";
    case varCurrency:
      return "varCurrency";
    case varDate:
      return "varDate";
    case varOleStr:
      return "varOleStr";
    case varDispatch:
      return "varDispatch";
    case varError:
      return "varError";
    case varBoolean:
      return "varBoolean";
    case varVariant:
      return "varVariant";
    case varUnknown:
      return "varUnknown";
    case varShortInt:
    case varByte:
      return "varByte";
    case varString:
      return "varString";
    default:
      return "var???";
  }
}

std::string VarToString(Variant value, const std::string& format) {
  switch (value.VType()) {
    case varSmallint:
    case varInteger:
      return platform::IntToStr(static_cast<std::int32_t>(value.IntValue()));
    case varSingle:
    case varDouble:
    case varCurrency: {
      // The quick way writes what "0.0000000" writes, below 1E18 where that is fixed.
      if (!format.empty() || !(std::fabs(value.DoubleValue()) < 1e18)) {
        return platform::FormatFloat(format.empty() ? "0.0000000" : format, value.DoubleValue());
      }
      char buf[400];
      char* end = platform::FormatFixed(buf, buf + sizeof buf, value.DoubleValue(), 7,
                                        FormatSettings.DecimalSeparator);
      return end ? std::string(buf, end) : platform::FormatFloat("0.0000000", value.DoubleValue());
    }
    case varDate: {
      const double dt = value.DoubleValue();
      if (!format.empty()) return platform::FormatDateTime(format, dt);
      return platform::FormatDateTime(std::trunc(dt) != 0 ? "ddddd" : "t", dt);
    }
    case varBoolean:
      return value.BoolValue() ? "Yes" : "No";
    case varShortInt:
    case varByte:
      return convert::ByteToText(convert::ByteOf(value));
    case varString:
      return value.Text();
    default:
      return std::string();
  }
}

double VarToDouble(Variant value) {
  switch (value.VType()) {
    case varSmallint:
    case varInteger:
      return static_cast<double>(static_cast<std::int32_t>(value.IntValue()));
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate:
      return value.DoubleValue();
    case varBoolean:
      return value.BoolValue() ? 1.0 : 0.0;
    case varShortInt:
    case varByte:
      return convert::ByteOf(value);
    case varString: {
      double result = 0;
      if (!platform::TryStrToFloat(value.Text(), result)) {
        throw EConvertError("'" + value.Text() + "' is not a valid floating point value");
      }
      return result;
    }
    default:
      return 0.0;
  }
}

Variant VarValFromString(const std::string& text, int type) {
  switch (type) {
    case varEmpty:
    case varNull:
      return platform::IsBlank(text) ? Variant::Null() : Variant::String(text);
    case varSmallint:
    case varInteger: {
      std::int32_t v = 0;
      if (platform::TryStrToInt(platform::TrimView(text), v)) return Variant::Integer(v);
      return Variant::Null();
    }
    case varSingle:
    case varDouble:
    case varCurrency: {
      double v = 0;
      if (platform::TryStrToFloat(text, v)) return Variant::Double(v);
      return Variant::Null();
    }
    case varDate: {
      TDateTime v = 0;
      if (platform::TryStrToDateTime(text, v)) return Variant::Date(v);
      return Variant::Null();
    }
    case varBoolean: {
      const std::string_view t = platform::TrimView(text);
      if (t.empty()) return Variant::Null();
      char c = t[0];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (c == 'T' || c == '1' || c == 'Y') return Variant::Boolean(true);
      if (c == 'F' || c == '0' || c == 'N') return Variant::Boolean(false);
      return Variant::Null();
    }
    case varShortInt:
    case varByte: {
      if (text.empty()) return Variant::Null();
      std::size_t pos = 0;
      const char32_t c = platform::DecodeUtf8(text, pos);
      if (c == 0xFFFD && pos == 1) {  // a stray byte that is no UTF-8: take it as it is
        return Variant::Integer(static_cast<unsigned char>(text[0]));
      }
      const int code = platform::CharToWin1251(c);
      // A character without a Windows-1251 byte has no one-byte code.
      return code < 0 ? Variant::Null() : Variant::Integer(code);
    }
    case varString:
      return Variant::String(text);
    default:
      return Variant::Null();
  }
}

bool VarIsEmpty(Variant value, double emptyNumber) {
  switch (value.VType()) {
    case varSmallint:
    case varInteger: {
      const double limit = std::trunc(emptyNumber);
      // An empty number outside the 32-bit range equals no integer.
      if (!(limit >= -2147483648.0 && limit <= 2147483647.0)) return false;
      return static_cast<std::int32_t>(value.IntValue()) == static_cast<std::int32_t>(limit);
    }
    case varSingle:
    case varDouble:
    case varCurrency:
      return value.DoubleValue() == emptyNumber;
    case varDate:
      return value.DoubleValue() == 0.0;
    case varBoolean:
      // False is "nothing set", as zero is for numbers.
      return !value.BoolValue();
    case varShortInt:
    case varByte:
      return convert::ByteOf(value) <= 32;
    case varString:
      return platform::IsBlank(value.Text());
    default:
      return true;
  }
}

double AnsisToDoubleDef(const std::string& text, double def) {
  double v = 0;
  return platform::TryStrToFloat(text, v) ? v : def;
}

TDateTime AnsisToDateTimeDef(const std::string& text, TDateTime def) {
  if (platform::IsBlank(text)) return def;
  TDateTime v = 0;
  return platform::TryStrToDateTime(text, v) ? v : def;
}
