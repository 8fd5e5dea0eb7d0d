#include "platform/Variant.h"

#include <cmath>

Variant Variant::Currency(double v) {
  Variant r;
  r.type_ = varCurrency;
  r.int_ = static_cast<std::int64_t>(std::llround(v * 10000.0));
  return r;
}

Variant Variant::OleStr(std::string v) {
  Variant r;
  r.type_ = varOleStr;
  r.text_ = std::move(v);
  return r;
}

double Variant::DoubleValue() const {
  if (type_ == varCurrency) return static_cast<double>(int_) / 10000.0;
  return double_;
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case varEmpty:
    case varNull:
      return true;
    case varSingle:
    case varDouble:
    case varDate:
      return a.double_ == b.double_;
    case varOleStr:
    case varString:
      return a.text_ == b.text_;
    case varDispatch:
    case varUnknown:
      return a.object_ == b.object_;
    default:
      return a.int_ == b.int_ && a.double_ == b.double_ && a.text_ == b.text_ &&
             a.object_ == b.object_;
  }
}
