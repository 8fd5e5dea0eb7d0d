#pragma once
// Value syntax shared by the XML workbook readers: cell references, numbers and
// date-times as the files write them (never by the user's regional settings), and the
// escapes SpreadsheetML uses for control characters in strings.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace sheet {

// "B12" -> row 11, column 1 (0-based). Accepts an optional '$' before either part.
// False for anything else, or for a column or row number past 2^31.
bool ParseCellReference(std::string_view reference, std::uint32_t& row, std::uint32_t& column);

// A decimal number in XML Schema syntax ("-1.5E3", surrounding blanks allowed). Nothing for
// anything else, including infinities and NaN.
std::optional<double> ParseXmlNumber(std::string_view text);

// A non-negative decimal integer that fits 32 bits ("12"); nothing otherwise.
std::optional<std::uint32_t> ParseXmlUnsigned(std::string_view text);

// "2024-03-01", "2024-03-01T13:45:30.25", with an optional zone suffix that is ignored (a
// spreadsheet date has no zone): days since 1899-12-30, or nothing when malformed.
std::optional<double> ParseIsoDateTime(std::string_view text);

// An XML Schema duration ("PT13H45M30S", "P1DT2H", "-PT1H"): days, or nothing when
// malformed. Years and months are refused: they have no fixed length.
std::optional<double> ParseIsoDuration(std::string_view text);

// Replaces the "_xHHHH_" escapes of SpreadsheetML strings by the character they stand for
// ("_x000D_" is a carriage return; "_x005F_" escapes a literal underscore).
void DecodeSpreadsheetEscapes(std::string& text);

using platform::AppendUtf8;

}  // namespace sheet
