#pragma once
// Number parsing and formatting by the regional settings. Exact and locale-free in the
// C library's sense: std::to_chars / std::from_chars underneath.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FormatSettings.h"

namespace platform {

// A 32-bit decimal integer: optional sign, digits, nothing else (no blanks).
bool TryStrToInt(std::string_view text, std::int32_t& value);
// A floating-point number with `fs.DecimalSeparator` as the decimal separator, an
// optional sign and an optional exponent; blanks around it are allowed. "inf", "nan",
// hexadecimal forms and thousands separators are refused.
bool TryStrToFloat(std::string_view text, double& value,
                   const TFormatSettings& fs = FormatSettings);

// Formats by a number pattern: "0" digit always shown, "#" digit if significant, "."
// decimal separator, "," thousands grouping, "E+"/"E-" exponent, quoted literals, and up
// to three sections separated by ";" (positive;negative;zero). The exact binary value of
// the double is rounded to the decimals shown; an exact half rounds away from zero. An
// empty pattern gives FloatToStrGeneral.
std::string FormatFloat(std::string_view pattern, double value,
                        const TFormatSettings& fs = FormatSettings);

// The shortest text that reads back as `value` with at most 15 significant digits, in
// fixed notation where that is not absurdly long, no grouping, `fs.DecimalSeparator`.
std::string FloatToStrGeneral(double value, const TFormatSettings& fs = FormatSettings);

std::string IntToStr(std::int64_t value);

// Writes `value` in fixed notation with exactly `decimals` decimals (0 to 40) and
// `decimalSeparator`, no grouping, into [first, last); returns the end of the text, or
// nullptr when it does not fit. Rounding as in FormatFloat; a value that rounds to zero
// has no minus sign. Not finite values give "NAN", "INF" or "-INF". The fast path of
// the SQL constants: no allocation, no locale.
char* FormatFixed(char* first, char* last, double value, int decimals, char decimalSeparator);

}  // namespace platform
