#include "store/fields.h"

#include <algorithm>
#include <limits>

#include "config/error_styles.h"
#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/block_primitives.h"

namespace dovel::store {

static_assert(Identifier::kLength == layout::kIdentifierChars && 2 * Identifier::kLength == layout::kIdentifierBytes);

std::u16string ReadIdentifier(const std::byte* view, std::uint32_t offset) {
  return GetViewString(view, offset, layout::kIdentifierBytes);
}

void WriteIdentifier(std::byte* view, std::uint32_t offset, const Identifier& value) {
  PutViewString(view, offset, value.view(), layout::kIdentifierBytes);
}

std::int32_t UsableCount(std::int16_t stored, std::int32_t capacity_bytes) {
  return std::clamp<std::int32_t>(stored, 0, capacity_bytes);
}

std::u16string ReadCountedText(const std::byte* view, std::uint32_t count_offset, std::int32_t capacity_bytes) {
  const std::int32_t count = UsableCount(GetView16(view, count_offset), capacity_bytes);
  if (count <= 0) return {};
  return GetViewString(view, count_offset + 2, count);
}

void WriteCountedText(std::byte* view, std::uint32_t count_offset, std::int32_t capacity_bytes,
                      std::u16string_view value) {
  if (value.size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()) / 2) {
    config::Raise(RuntimeError::kOverflow);
  }
  const auto byte_count = static_cast<std::int16_t>(value.size() * 2);
  if (byte_count > capacity_bytes) config::Raise(RuntimeError::kInvalidPropertyValue);
  PutView16(view, count_offset, byte_count);
  if (byte_count > 0) PutViewString(view, count_offset + 2, value, byte_count);
}

}  // namespace dovel::store
