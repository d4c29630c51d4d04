// The integer conversions on every kind of variant a caller can pass, with
// the value's bytes from the input: doubles include NaN, infinities and
// values far out of every range.
//
// Input: a kind byte, then the value's bytes (little-endian).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "fuzz_check.h"
#include "platform/automation/conversions.h"

namespace {

namespace automation = dovel::platform::automation;
using automation::Variant;

template <class T>
T Take(const std::uint8_t* data, std::size_t size) {
  T value{};
  std::memcpy(&value, data, std::min(size, sizeof value));
  return value;
}

template <class Int>
void CheckConversion(std::error_code (*convert)(const Variant&, Int&), const Variant& from,
                     const std::optional<double>& number, double lowest, double highest) {
  constexpr Int kUntouched = 7;
  Int value = kUntouched;
  const std::error_code status = convert(from, value);
  if (!number) {
    DOVEL_FUZZ_CHECK(status == dovel::RuntimeError::kTypeMismatch && value == kUntouched);
    return;
  }
  const double rounded = std::isfinite(*number) ? automation::RoundHalfToEven(*number) : *number;
  if (!std::isfinite(rounded) || rounded < lowest || rounded > highest) {
    DOVEL_FUZZ_CHECK(status == dovel::RuntimeError::kOverflow && value == kUntouched);
  } else {
    DOVEL_FUZZ_CHECK(!status && static_cast<double>(value) == rounded);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t* payload = data + 1;
  const std::size_t payload_size = size - 1;
  std::int16_t referenced = Take<std::int16_t>(payload, payload_size);

  // The variant and the number it stands for (none: not a number at all).
  Variant from;
  std::optional<double> number;
  switch (data[0] % 11) {
    case 0: number = 0; break;
    case 1: from = automation::Missing{}; break;
    case 2:
      from = referenced;
      number = referenced;
      break;
    case 3:
      from = automation::Int16Ref{&referenced};
      number = referenced;
      break;
    case 4: from = automation::Int16Ref{nullptr}; break;
    case 5: {
      const auto value = Take<std::int32_t>(payload, payload_size);
      from = value;
      number = value;
      break;
    }
    case 6: {
      const auto value = Take<double>(payload, payload_size);
      from = value;
      number = value;
      break;
    }
    case 7: {
      const automation::Date value{Take<double>(payload, payload_size)};
      from = value;
      number = value.value;
      break;
    }
    case 8: {
      const bool value = payload_size > 0 && (payload[0] & 1) != 0;
      from = value;
      number = value ? -1 : 0;
      break;
    }
    case 9: from = automation::ByteArray{0, {payload, payload + payload_size}}; break;
    default: from = automation::VariantArray{0, {Variant(std::int16_t{1})}}; break;
  }

  CheckConversion<std::int16_t>(automation::ToInt16, from, number, -32768, 32767);
  CheckConversion<std::int32_t>(automation::ToInt32, from, number, -2147483648.0, 2147483647.0);
  CheckConversion<std::uint8_t>(automation::ToByte, from, number, 0, 255);
  if (number && std::isfinite(*number)) {
    const double rounded = automation::RoundHalfToEven(*number);
    DOVEL_FUZZ_CHECK(rounded == std::floor(rounded) && std::fabs(rounded - *number) <= 0.5);
  }
  return 0;
}
