#include "platform/automation/conversions.h"

#include <charconv>
#include <cmath>
#include <string>

namespace dovel::platform::automation {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The number a variant stands for, before range checks.
std::int32_t NumericValue(const Variant& from, double& value) {
  const auto& v = from.value();
  if (std::holds_alternative<Empty>(v)) value = 0;
  else if (auto* i16 = std::get_if<std::int16_t>(&v)) value = *i16;
  else if (auto* ref = std::get_if<Int16Ref>(&v)) {
    if (ref->target == nullptr) return kErrTypeMismatch;
    value = *ref->target;
  } else if (auto* i32 = std::get_if<std::int32_t>(&v)) value = *i32;
  else if (auto* d = std::get_if<double>(&v)) value = *d;
  else if (auto* date = std::get_if<Date>(&v)) value = date->value;
  else if (auto* b = std::get_if<bool>(&v)) value = *b ? -1 : 0;
  else if (auto* text = std::get_if<std::u16string>(&v)) return ParseNumber(*text, value);
  else return kErrTypeMismatch;
  return std::isfinite(value) ? 0 : kErrOverflow;
}

template <class Int>
std::int32_t ToInteger(const Variant& from, Int& value, double lowest, double highest) {
  double number = 0;
  if (const std::int32_t error = NumericValue(from, number); error != 0) return error;
  const double rounded = RoundHalfToEven(number);
  if (rounded < lowest || rounded > highest) return kErrOverflow;
  value = static_cast<Int>(rounded);
  return 0;
}

}  // namespace

std::int32_t ParseNumber(std::u16string_view text, double& value) {
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
  if (digits == 0) return kErrTypeMismatch;
  if (j < end && (text[j] == u'e' || text[j] == u'E')) {
    ascii += 'e';
    ++j;
    if (j < end && (text[j] == u'+' || text[j] == u'-')) ascii += static_cast<char>(text[j++]);
    std::size_t exponent_digits = 0;
    while (j < end && IsDigit(text[j])) ascii += static_cast<char>(text[j++]), ++exponent_digits;
    if (exponent_digits == 0) return kErrTypeMismatch;
  }
  if (j != end) return kErrTypeMismatch;

  // from_chars ignores the process locale and takes no leading '+'.
  const char* first = ascii.data();
  if (*first == '+') ++first;
  double parsed = 0;
  const auto [end_of_number, error] = std::from_chars(first, ascii.data() + ascii.size(), parsed);
  if (error == std::errc::result_out_of_range) {
    // Too small to hold is zero; too large is an overflow.
    if (ascii.find("e-") == std::string::npos) return kErrOverflow;
    value = 0;
    return 0;
  }
  if (!std::isfinite(parsed)) return kErrOverflow;
  if (error != std::errc() || end_of_number != ascii.data() + ascii.size()) return kErrTypeMismatch;
  value = parsed;
  return 0;
}

double RoundHalfToEven(double value) {
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

std::int32_t ToByte(const Variant& from, std::uint8_t& value) {
  return ToInteger(from, value, 0, 255);
}

std::int32_t ToInt16(const Variant& from, std::int16_t& value) {
  return ToInteger(from, value, -32768, 32767);
}

std::int32_t ToInt32(const Variant& from, std::int32_t& value) {
  return ToInteger(from, value, -2147483648.0, 2147483647.0);
}

}  // namespace dovel::platform::automation
