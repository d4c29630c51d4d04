#pragma once

#include <cstdint>
#include <string_view>
#include <system_error>

#include "platform/automation/variant.h"
#include "platform/core/error_codes.h"

namespace dovel::platform::automation {

// Numeric text as the conversions accept it: optional blanks (space, tab)
// around an optional sign, decimal digits with an optional '.' fraction and
// an optional exponent ("e" or "E", optional sign, digits). No thousands
// separators, no hexadecimal, no locale: "1,5" is not a number. Returns success
// and the value, or RuntimeError::kTypeMismatch for empty or malformed text.
[[nodiscard]] std::error_code ParseNumber(std::u16string_view text, double& value);

// Rounds to the nearest integer, a half to the even neighbour (2.5 -> 2).
double RoundHalfToEven(double value);

// Conversions of a variant to an integer type, as automation coerces:
// numbers are rounded half to even, Booleans are 0 / -1, numeric text is
// parsed by ParseNumber, the empty variant is 0. Return success and the value,
// kOverflow when the rounded value is out of range, kTypeMismatch for anything else
// (missing, arrays, objects, non-numeric text). `value` is untouched on error.
[[nodiscard]] std::error_code ToByte(const Variant& from, std::uint8_t& value);
[[nodiscard]] std::error_code ToInt16(const Variant& from, std::int16_t& value);
[[nodiscard]] std::error_code ToInt32(const Variant& from, std::int32_t& value);

}  // namespace dovel::platform::automation
