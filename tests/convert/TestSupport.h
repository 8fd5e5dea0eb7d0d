#pragma once
// Shared pieces of the conversion library's tests: those of the platform tests, and a
// readable form of variants in failure messages.

#include <ostream>

#include "convert/Smallfun.h"
#include "tests/platform/TestSupport.h"

inline void PrintTo(const Variant& v, std::ostream* os) {
  *os << VarTypeAsString(v) << "(type " << v.VType() << ")";
  switch (v.VType()) {
    case varString:
    case varOleStr:
      *os << " \"" << v.Text() << "\"";
      break;
    case varSingle:
    case varDouble:
    case varDate:
    case varCurrency:
      *os << " " << v.DoubleValue();
      break;
    case varEmpty:
    case varNull:
      break;
    default:
      *os << " " << v.IntValue();
  }
}
