#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/guid/guid_source.h"

namespace dovel::store {

// The name of a block and the value of every link between blocks: a GUID in
// registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 UTF-16 code
// units. Text is checked once, where it enters; an Identifier is always of
// that form, or the default: 38 U+0000, what a link never written holds,
// naming no block.
//
// Hexadecimal digits stay in the case they came in: the block name is the
// text itself, so identifiers differing only in case name different blocks
// and compare unequal. Kept inline, without allocation: the engine compares
// against one on every tick.
class Identifier {
 public:
  static constexpr std::size_t kLength = 38;

  constexpr Identifier() = default;

  // Takes `text` into `out`: exactly 38 code units, else
  // RuntimeError::kBadIdentifierLength (160); then the registry form, else
  // SystemError::kInvalidName (123), which is what the block layer says of a
  // name it cannot use. On a refusal `out` is left as it was.
  [[nodiscard]] static std::error_code Parse(std::u16string_view text, Identifier& out) noexcept;

  // The same, raising the refusal.
  static Identifier From(std::u16string_view text);

  // The identifier of `guid`, as StringFromGuid2 writes it.
  static Identifier From(const platform::Guid& guid);

  std::u16string_view view() const noexcept { return {units_.data(), units_.size()}; }
  std::u16string str() const { return std::u16string(view()); }

  // The block's name for the system: the same characters as 8-bit text.
  std::string BlockName() const;

  friend bool operator==(const Identifier&, const Identifier&) = default;
  friend bool operator==(const Identifier& id, std::u16string_view text) noexcept { return id.view() == text; }

 private:
  std::array<char16_t, kLength> units_{};
};

}  // namespace dovel::store
