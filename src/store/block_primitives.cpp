#include "store/block_primitives.h"

#include <bit>
#include <cstring>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"

namespace dovel::store {
namespace {

using config::Raise;

// Raises unless [offset, offset + count) lies inside the block.
void CheckRange(const std::byte* view, std::uint32_t offset, std::int32_t count) {
  if (view == nullptr) Raise(RuntimeError::kNotAttached);
  if (count < 0) Raise(RuntimeError::kInvalidProcedureCall);
  if (offset > kBlockBytes || static_cast<std::uint32_t>(count) > kBlockBytes - offset) {
    Raise(RuntimeError::kSubscriptOutOfRange);
  }
}

}  // namespace

void PutViewString(std::byte* view, std::uint32_t offset, std::u16string_view value, std::int32_t byte_count) {
  CheckRange(view, offset, byte_count);
  if (static_cast<std::size_t>(byte_count) > value.size() * 2) Raise(RuntimeError::kInvalidProcedureCall);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(view + offset, value.data(), static_cast<std::size_t>(byte_count));
    return;
  }
  // Little-endian code units, whatever the host's byte order.
  std::byte staging[kBlockBytes];
  for (std::int32_t i = 0; i < byte_count; ++i) {
    const char16_t unit = value[static_cast<std::size_t>(i / 2)];
    staging[i] = static_cast<std::byte>(i % 2 == 0 ? unit & 0xFF : unit >> 8);
  }
  std::memcpy(view + offset, staging, static_cast<std::size_t>(byte_count));
}

std::u16string GetViewString(const std::byte* view, std::uint32_t offset, std::int32_t byte_count) {
  CheckRange(view, offset, byte_count);
  std::u16string text(static_cast<std::size_t>(byte_count / 2), u'\0');
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(text.data(), view + offset, text.size() * 2);
    return text;
  }
  std::byte staging[kBlockBytes];
  std::memcpy(staging, view + offset, static_cast<std::size_t>(byte_count));
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(std::to_integer<unsigned>(staging[2 * i]) |
                                    std::to_integer<unsigned>(staging[2 * i + 1]) << 8);
  }
  return text;
}

bool ViewStringEquals(const std::byte* view, std::uint32_t offset, std::u16string_view value, std::int32_t byte_count) {
  CheckRange(view, offset, byte_count);
  if (value.size() * 2 != static_cast<std::size_t>(byte_count)) return false;
  if constexpr (std::endian::native == std::endian::little) {
    return std::memcmp(view + offset, value.data(), static_cast<std::size_t>(byte_count)) == 0;
  }
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::size_t at = offset + 2 * i;
    const auto unit =
        static_cast<char16_t>(std::to_integer<unsigned>(view[at]) | std::to_integer<unsigned>(view[at + 1]) << 8);
    if (unit != value[i]) return false;
  }
  return true;
}

void PutView16(std::byte* view, std::uint32_t offset, std::int16_t value) {
  CheckRange(view, offset, 2);
  const auto bits = static_cast<std::uint16_t>(value);
  const std::byte bytes[2] = {static_cast<std::byte>(bits & 0xFF), static_cast<std::byte>(bits >> 8)};
  std::memcpy(view + offset, bytes, 2);
}

std::int16_t GetView16(const std::byte* view, std::uint32_t offset) {
  CheckRange(view, offset, 2);
  std::byte bytes[2];
  std::memcpy(bytes, view + offset, 2);
  return static_cast<std::int16_t>(std::to_integer<std::uint16_t>(bytes[0]) | std::to_integer<std::uint16_t>(bytes[1])
                                                                                  << 8);
}

void PutViewBytes(std::byte* view, std::uint32_t offset, const std::uint8_t* bytes, std::int32_t count) {
  CheckRange(view, offset, count);
  if (count > 0) std::memcpy(view + offset, bytes, static_cast<std::size_t>(count));
}

void GetViewBytes(const std::byte* view, std::uint32_t offset, std::uint8_t* bytes, std::int32_t count) {
  CheckRange(view, offset, count);
  if (count > 0) std::memcpy(bytes, view + offset, static_cast<std::size_t>(count));
}

}  // namespace dovel::store
