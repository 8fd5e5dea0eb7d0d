#pragma once
// Number parsing and formatting by the regional settings. Exact and locale-free in the
// C library's sense: std::to_chars / std::from_chars underneath.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FormatSettings.h"

namespace platform {

// A 32-bit integer: leading blanks, an optional sign, then decimal digits (a value
// outside 32 bits is refused) or hexadecimal ones after "$", "x" or "0x" (up to 32 bits,
// taken as they stand: "$FFFFFFFF" is -1). Nothing may follow but a NUL, which ends the
// text.
bool TryStrToInt(std::string_view text, std::int32_t& value);
// A floating-point number with `fs.DecimalSeparator` as the decimal separator, an
// optional sign and an optional exponent; blanks around it are allowed. "inf", "nan",
// hexadecimal forms and thousands separators are refused.
bool TryStrToFloat(std::string_view text, double& value,
                   const TFormatSettings& fs = FormatSettings);

// Formats by a number pattern: "0" digit always shown, "#" digit if significant, "."
// decimal separator, "," thousands grouping, "E+"/"E-" exponent, quoted literals, and up
// to three sections separated by ";" (positive;negative;zero). The value is first taken
// to 18 significant digits, and those are rounded to the decimals shown, an exact half
// away from zero (so 1000.005, stored a hair below, gives "1000.01" with "0.00"). An
// empty pattern, and a value of 1E18 or more under a pattern without exponent, give
// FloatToStr.
std::string FormatFloat(std::string_view pattern, double value,
                        const TFormatSettings& fs = FormatSettings);

// The general format of the run-time library: the shortest text that reads back as
// `value` with at most 15 significant digits, fixed notation from 1E-4 up to below
// 1E15, else an exponent without plus sign or leading zeros ("1E15", "1E-8",
// "1.23456789012346E15"); no grouping, `fs.DecimalSeparator`.
std::string FloatToStr(double value, const TFormatSettings& fs = FormatSettings);

// The same digits as FloatToStr with the spreadsheet's exponent: a sign and at least two
// digits ("1E+15", "1E-08"). What the text save of a workbook writes for a number.
std::string FloatToStrGeneral(double value, const TFormatSettings& fs = FormatSettings);

std::string IntToStr(std::int64_t value);

// Writes `value` in fixed notation with exactly `decimals` decimals (0 to 40) and
// `decimalSeparator`, no grouping, into [first, last); returns the end of the text, or
// nullptr when it does not fit. Rounding as in FormatFloat below 1E18; larger values,
// whole numbers all, are written in full (FormatFloat would switch to FloatToStr for
// them, but an SQL number must stay fixed notation). A value that rounds to zero
// has no minus sign. Not finite values give "NAN", "INF" or "-INF". The fast path of
// the SQL constants: no allocation, no locale.
char* FormatFixed(char* first, char* last, double value, int decimals, char decimalSeparator);

}  // namespace platform
