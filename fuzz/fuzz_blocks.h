#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/fake_shared_memory.h"

namespace dovel::fuzz {

// The identifier of the index-th block a harness lays out: 38 characters,
// the same digit repeated in the last group, so inputs can link the blocks
// by writing these exact code units.
std::u16string BlockIdentifier(int index);

// Creates the block `identifier` in `memory` and fills it with `bytes`
// (zeros beyond them, at most a block's worth); the view stays mapped for
// the harness to compare against. Null when the block cannot be made.
std::byte* PlaceBlock(testing::FakeSharedMemory& memory, const std::u16string& identifier, const std::uint8_t* bytes,
                      std::size_t size);

// The code units at `offset` of a block, read straight from its bytes, as
// another process would see them (little-endian).
std::u16string UnitsAt(const std::byte* view, std::size_t offset, std::size_t byte_count);
std::int16_t Int16At(const std::byte* view, std::size_t offset);

}  // namespace dovel::fuzz
