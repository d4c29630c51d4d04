#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/identifier.h"

namespace dovel::store {

// The field encodings shared by message and list-head blocks. Errors pass on.

// An identifier field: 38 UTF-16 code units, no terminator. A field never
// written reads as 38 U+0000 code units.
std::u16string ReadIdentifier(const std::byte* view, std::uint32_t offset);

// Writes the identifier's 38 code units.
void WriteIdentifier(std::byte* view, std::uint32_t offset, const Identifier& value);

// A counted text field: a 16-bit byte count, then a text area of
// `capacity_bytes`. A stored count is trusted only as far as the area goes.
std::u16string ReadCountedText(const std::byte* view, std::uint32_t count_offset, std::int32_t capacity_bytes);

// Writes the count, then the text; area bytes beyond the new text keep what
// they held. Refusals (6 beyond 16 bits, 380 beyond the area) come before
// any write.
void WriteCountedText(std::byte* view, std::uint32_t count_offset, std::int32_t capacity_bytes,
                      std::u16string_view value);

// The usable byte count of a counted field holding `stored`: 0 for a count
// of 0 or below, at most `capacity_bytes`.
std::int32_t UsableCount(std::int16_t stored, std::int32_t capacity_bytes);

}  // namespace dovel::store
