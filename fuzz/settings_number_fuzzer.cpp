// The number grammar of settings and automation text: ParseNumber and the
// integer conversions that use it, on any UTF-16 text.
//
// Input: a first byte whose low bit picks the encoding of the rest: 0, one
// code unit per byte (settings arrive as Latin-1 bytes); 1, little-endian
// pairs (text from clients may hold any code unit).

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "platform/automation/conversions.h"

namespace {

namespace automation = dovel::platform::automation;

bool Blank(char16_t c) { return c == u' ' || c == u'\t'; }
bool Digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The grammar, checked on its own: the ASCII text of a well-formed number
// without its blanks, or false.
bool WellFormed(const std::u16string& text, std::string& ascii) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && Blank(text[begin])) ++begin;
  while (end > begin && Blank(text[end - 1])) --end;
  std::size_t i = begin;
  auto take = [&](auto accept) {
    if (i < end && accept(text[i])) {
      ascii += static_cast<char>(text[i++]);
      return true;
    }
    return false;
  };
  auto sign = [](char16_t c) { return c == u'+' || c == u'-'; };
  take(sign);
  int digits = 0;
  while (take(Digit)) ++digits;
  if (take([](char16_t c) { return c == u'.'; })) {
    while (take(Digit)) ++digits;
  }
  if (digits == 0) return false;
  if (take([](char16_t c) { return c == u'e' || c == u'E'; })) {
    take(sign);
    int exponent_digits = 0;
    while (take(Digit)) ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == end;
}

void CheckRounding(double value) {
  const double rounded = automation::RoundHalfToEven(value);
  DOVEL_FUZZ_CHECK(rounded == std::floor(rounded));
  const double distance = std::fabs(rounded - value);
  DOVEL_FUZZ_CHECK(distance <= 0.5);
  if (distance == 0.5) DOVEL_FUZZ_CHECK(std::fmod(rounded, 2.0) == 0);
}

// A conversion agrees with ParseNumber, rounds half to even, and leaves its
// target alone unless it succeeds.
template <class Int>
void CheckConversion(std::error_code (*convert)(const automation::Variant&, Int&), const std::u16string& text,
                     std::error_code parsed_status, double parsed, double lowest, double highest) {
  constexpr Int kUntouched = 7;
  Int value = kUntouched;
  const std::error_code status = convert(automation::Variant(text), value);
  if (parsed_status) {
    DOVEL_FUZZ_CHECK(status == parsed_status);
    DOVEL_FUZZ_CHECK(value == kUntouched);
    return;
  }
  const double rounded = automation::RoundHalfToEven(parsed);
  if (rounded < lowest || rounded > highest) {
    DOVEL_FUZZ_CHECK(status == dovel::RuntimeError::kOverflow);
    DOVEL_FUZZ_CHECK(value == kUntouched);
  } else {
    DOVEL_FUZZ_CHECK(!status);
    DOVEL_FUZZ_CHECK(static_cast<double>(value) == rounded);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::u16string text;
  if ((data[0] & 1) == 0) {
    for (std::size_t i = 1; i < size; ++i) text += static_cast<char16_t>(data[i]);
  } else {
    for (std::size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }

  double parsed = -1.5;
  const std::error_code status = automation::ParseNumber(text, parsed);
  std::string ascii;
  if (!WellFormed(text, ascii)) {
    DOVEL_FUZZ_CHECK(status == dovel::RuntimeError::kTypeMismatch);
    DOVEL_FUZZ_CHECK(parsed == -1.5);
  } else {
    // The C library's reading of the same digits: exact where it is in
    // range, an overflow where it is too large; too small reads as zero (or
    // the subnormal the library found).
    errno = 0;
    const double reference = std::strtod(ascii.c_str(), nullptr);
    const bool out_of_range = errno == ERANGE;
    if (!out_of_range) {
      DOVEL_FUZZ_CHECK(!status && parsed == reference);
    } else if (std::fabs(reference) > 1.0) {
      DOVEL_FUZZ_CHECK(status == dovel::RuntimeError::kOverflow);
    } else {
      DOVEL_FUZZ_CHECK(!status && (parsed == 0 || parsed == reference));
    }
  }
  if (!status) {
    DOVEL_FUZZ_CHECK(std::isfinite(parsed));
    CheckRounding(parsed);
  }

  CheckConversion<std::int16_t>(automation::ToInt16, text, status, parsed, -32768, 32767);
  CheckConversion<std::int32_t>(automation::ToInt32, text, status, parsed, -2147483648.0, 2147483647.0);
  CheckConversion<std::uint8_t>(automation::ToByte, text, status, parsed, 0, 255);
  return 0;
}
