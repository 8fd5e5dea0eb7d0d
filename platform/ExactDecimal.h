#pragma once
// Private to the number conversions of platform/: what decides whether a decimal number
// can be read or written with one correctly rounded double operation.

#include <cfloat>

namespace platform::detail {

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPowerOfTen = 22;

// One multiplication or division of two exact doubles is correctly rounded only when
// the arithmetic is plain IEEE double (no wider intermediate precision).
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
constexpr bool kPlainDoubleArithmetic = true;
#else
constexpr bool kPlainDoubleArithmetic = false;
#endif

}  // namespace platform::detail
