#pragma once

#include <cstdint>
#include <string_view>

#include "platform/automation/variant.h"

namespace dovel::platform::automation {

inline constexpr std::int32_t kErrOverflow = 6;
inline constexpr std::int32_t kErrTypeMismatch = 13;

// Numeric text as the conversions accept it: optional blanks (space, tab)
// around an optional sign, decimal digits with an optional '.' fraction and
// an optional exponent ("e" or "E", optional sign, digits). No thousands
// separators, no hexadecimal, no locale: "1,5" is not a number. Returns 0 and
// the value, or 13 (type mismatch) for empty or malformed text.
std::int32_t ParseNumber(std::u16string_view text, double& value);

// Rounds to the nearest integer, a half to the even neighbour (2.5 -> 2).
double RoundHalfToEven(double value);

// Conversions of a variant to an integer type, as automation coerces:
// numbers are rounded half to even, Booleans are 0 / -1, numeric text is
// parsed by ParseNumber, the empty variant is 0. Return 0 and the value, 6
// (overflow) when the rounded value is out of range, 13 for anything else
// (missing, arrays, objects, non-numeric text). `value` is untouched on error.
std::int32_t ToByte(const Variant& from, std::uint8_t& value);
std::int32_t ToInt16(const Variant& from, std::int16_t& value);
std::int32_t ToInt32(const Variant& from, std::int32_t& value);

}  // namespace dovel::platform::automation
