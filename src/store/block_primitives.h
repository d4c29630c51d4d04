#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dovel::store {

// Field copies between process memory and a mapped 1024-byte block. They are
// the only way the store touches a block. Whatever the arguments, nothing
// outside the block is read or written: an offset and count that would leave
// it raise 9 (subscript out of range) before anything is copied.
// Errors pass on to the caller.

inline constexpr std::uint32_t kBlockBytes = 1024;

// Copies the first `byte_count` bytes of `value`'s UTF-16LE code units to
// the block at `offset`. A count above the value's own byte length, or a
// negative one, raises 5: the bytes beyond the value would be undefined.
void PutViewString(std::byte* view, std::uint32_t offset, std::u16string_view value, std::int32_t byte_count);

// The `byte_count` bytes at `offset` taken verbatim as UTF-16LE code units.
// U+0000 stays in the string. An odd count drops the incomplete last byte.
std::u16string GetViewString(const std::byte* view, std::uint32_t offset, std::int32_t byte_count);

// Whether the `byte_count` bytes at `offset` hold exactly the first
// `byte_count` bytes of `value`'s code units: GetViewString(...) == value
// without making the string.
bool ViewStringEquals(const std::byte* view, std::uint32_t offset, std::u16string_view value, std::int32_t byte_count);

// 16-bit little-endian integers (counts, Priority, Booleans as 0 / -1).
void PutView16(std::byte* view, std::uint32_t offset, std::int16_t value);
std::int16_t GetView16(const std::byte* view, std::uint32_t offset);

// Raw bytes (the data area of a message).
void PutViewBytes(std::byte* view, std::uint32_t offset, const std::uint8_t* bytes, std::int32_t count);
void GetViewBytes(const std::byte* view, std::uint32_t offset, std::uint8_t* bytes, std::int32_t count);

}  // namespace dovel::store
