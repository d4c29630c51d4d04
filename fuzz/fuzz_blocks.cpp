#include "fuzz_blocks.h"

#include <algorithm>

#include "platform/automation/text.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::fuzz {

std::u16string BlockIdentifier(int index) {
  std::u16string identifier = u"{0F0E0D0C-0B0A-4909-8807-06050403020X}";
  identifier[36] = static_cast<char16_t>(u'0' + index % 10);
  return identifier;
}

std::byte* PlaceBlock(testing::FakeSharedMemory& memory, const std::u16string& identifier, const std::uint8_t* bytes,
                      std::size_t size) {
  std::string name;
  if (!platform::automation::ToAsciiName(identifier, name)) return nullptr;
  const auto opened = memory.CreateOrOpen(name, platform::kBlockSize);
  if (opened.handle == 0) return nullptr;
  const auto mapped = memory.Map(opened.handle);
  if (mapped.view == nullptr) return nullptr;
  std::fill_n(mapped.view, platform::kBlockSize, std::byte{0});
  std::copy_n(reinterpret_cast<const std::byte*>(bytes), std::min<std::size_t>(size, platform::kBlockSize),
              mapped.view);
  return mapped.view;
}

std::u16string UnitsAt(const std::byte* view, std::size_t offset, std::size_t byte_count) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < byte_count; i += 2) {
    const auto low = std::to_integer<unsigned>(view[offset + i]);
    const auto high = std::to_integer<unsigned>(view[offset + i + 1]);
    units += static_cast<char16_t>(low | (high << 8));
  }
  return units;
}

std::int16_t Int16At(const std::byte* view, std::size_t offset) {
  const auto units = UnitsAt(view, offset, 2);
  return static_cast<std::int16_t>(units[0]);
}

}  // namespace dovel::fuzz
