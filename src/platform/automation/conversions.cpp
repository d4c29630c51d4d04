#include "platform/automation/conversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace dovel::platform::automation {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The number a variant stands for, before range checks.
std::error_code NumericValue(const Variant& from, double& value) {
  const auto& v = from.value();
  if (std::holds_alternative<Empty>(v)) value = 0;
  else if (auto* i16 = std::get_if<std::int16_t>(&v)) value = *i16;
  else if (auto* ref = std::get_if<Int16Ref>(&v)) {
    if (ref->target == nullptr) return RuntimeError::kTypeMismatch;
    value = *ref->target;
  } else if (auto* i32 = std::get_if<std::int32_t>(&v)) value = *i32;
  else if (auto* d = std::get_if<double>(&v)) value = *d;
  else if (auto* date = std::get_if<Date>(&v)) value = date->value;
  else if (auto* b = std::get_if<bool>(&v)) value = *b ? -1 : 0;
  else if (auto* text = std::get_if<std::u16string>(&v)) return ParseNumber(*text, value);
  else return RuntimeError::kTypeMismatch;
  return std::isfinite(value) ? std::error_code{} : std::error_code(RuntimeError::kOverflow);
}

template <class Int>
std::error_code ToInteger(const Variant& from, Int& value, double lowest, double highest) {
  double number = 0;
  if (const std::error_code error = NumericValue(from, number)) return error;
  const double rounded = RoundHalfToEven(number);
  if (rounded < lowest || rounded > highest) return RuntimeError::kOverflow;
  value = static_cast<Int>(rounded);
  return {};
}

// The power of ten of a well-formed number's first significant digit
// ("0.00012" is -4, "120e3" is 5), saturating far beyond any double's range:
// whether a number that does not fit is too small or too large depends on it,
// not on the sign of its exponent alone ("0.000…0001" has none).
std::int64_t DecimalExponent(std::string_view number) {
  constexpr std::int64_t kFar = std::int64_t{1} << 40;
  std::int64_t position = 0;  // of the next digit, relative to the units place
  std::size_t at = 0;
  if (at < number.size() && (number[at] == '+' || number[at] == '-')) ++at;
  const std::size_t integer_end = std::min(number.find_first_of(".e", at), number.size());
  position = static_cast<std::int64_t>(integer_end - at) - 1;
  std::int64_t first_significant = -kFar;
  for (; at < number.size() && number[at] != 'e'; ++at) {
    if (number[at] == '.') continue;
    if (number[at] != '0') {
      first_significant = position;
      break;
    }
    --position;
  }
  if (first_significant == -kFar) return -kFar;  // all zeros
  std::int64_t exponent = 0;
  if (const std::size_t e = number.find('e'); e != std::string_view::npos) {
    std::size_t digit = e + 1;
    const bool negative = digit < number.size() && number[digit] == '-';
    if (digit < number.size() && (number[digit] == '+' || number[digit] == '-')) ++digit;
    for (; digit < number.size(); ++digit) exponent = std::min(exponent * 10 + (number[digit] - '0'), kFar);
    if (negative) exponent = -exponent;
  }
  return first_significant + exponent;
}

}  // namespace

std::error_code ParseNumber(std::u16string_view text, double& value) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  std::size_t end = text.size();
  while (end > i && IsBlank(text[end - 1])) --end;

  // Validate the grammar here: it is narrower than any library parser's.
  std::string ascii;
  std::size_t j = i;
  if (j < end && (text[j] == u'+' || text[j] == u'-')) ascii += static_cast<char>(text[j++]);
  std::size_t digits = 0;
  while (j < end && IsDigit(text[j])) ascii += static_cast<char>(text[j++]), ++digits;
  if (j < end && text[j] == u'.') {
    ascii += '.';
    ++j;
    while (j < end && IsDigit(text[j])) ascii += static_cast<char>(text[j++]), ++digits;
  }
  if (digits == 0) return RuntimeError::kTypeMismatch;
  if (j < end && (text[j] == u'e' || text[j] == u'E')) {
    ascii += 'e';
    ++j;
    if (j < end && (text[j] == u'+' || text[j] == u'-')) ascii += static_cast<char>(text[j++]);
    std::size_t exponent_digits = 0;
    while (j < end && IsDigit(text[j])) ascii += static_cast<char>(text[j++]), ++exponent_digits;
    if (exponent_digits == 0) return RuntimeError::kTypeMismatch;
  }
  if (j != end) return RuntimeError::kTypeMismatch;

  // from_chars ignores the process locale and takes no leading '+'.
  const char* first = ascii.data();
  if (*first == '+') ++first;
  double parsed = 0;
  const auto [end_of_number, error] = std::from_chars(first, ascii.data() + ascii.size(), parsed);
  if (error == std::errc::result_out_of_range) {
    // Too small to hold is zero; too large is an overflow.
    if (DecimalExponent(ascii) >= 0) return RuntimeError::kOverflow;
    value = 0;
    return {};
  }
  if (!std::isfinite(parsed)) return RuntimeError::kOverflow;
  if (error != std::errc() || end_of_number != ascii.data() + ascii.size()) return RuntimeError::kTypeMismatch;
  value = parsed;
  return {};
}

double RoundHalfToEven(double value) {
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

std::error_code ToByte(const Variant& from, std::uint8_t& value) { return ToInteger(from, value, 0, 255); }

std::error_code ToInt16(const Variant& from, std::int16_t& value) { return ToInteger(from, value, -32768, 32767); }

std::error_code ToInt32(const Variant& from, std::int32_t& value) {
  return ToInteger(from, value, -2147483648.0, 2147483647.0);
}

}  // namespace dovel::platform::automation
