// SPDX-License-Identifier: GPL-3.0-or-later
// Integer text: the one rule by which text becomes a 32-bit signed integer
// (resolution fields, colour-list entries, settings), and decimal text of
// integers for output files.
//
// Accepted: leading spaces (not tabs), an optional sign, then decimal digits
// in the int32 range, or a hexadecimal number introduced by "$", "x", "X",
// "0x" or "0X" whose value fits in 32 bits (read as signed, so $FFFFFFFF is
// -1, and negated by a leading "-"). Nothing may follow the last digit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rastrace {

// Parses integer text; false on failure, leaving value untouched.
bool TryStrToInt(std::string_view text, int32_t& value);

// Parses integer text or throws Error("'<text>' is not a valid integer value").
int32_t StrToInt(std::string_view text);

// Parses integer text, or gives fallback when the text is not integer text.
int32_t StrToIntDef(std::string_view text, int32_t fallback);

// The message of a failed parse, built in this one place.
std::string NotValidIntegerMessage(std::string_view text);

// Signed decimal text: "-" before negative values, no padding or grouping.
std::string IntToStr(int64_t value);

// Writes the decimal text of value at out (room for 20 chars is needed) and
// returns the end. No locale, no allocation: used in the record builders.
char* AppendDecimal(char* out, int64_t value);

// Like AppendDecimal, but pads the digits with leading zeros to at least
// minDigits (the sign, if any, comes before the zeros). minDigits <= 20.
char* AppendDecimalPadded(char* out, int64_t value, int minDigits);

// value with decimals digits after the point, as "%.*f" writes it ("0.25").
std::string FixedText(double value, int decimals);

}  // namespace rastrace
