#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "config/error_styles.h"
#include "platform/automation/text.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::testing {

// What a call raises, or success when it returns normally.
inline std::error_code RaisedNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const config::RaisedError& raised) {
    return raised.status;
  }
  return {};
}

// A second, independent handle and view on a block, to look at its raw bytes
// the way another process would.
class RawBlock {
 public:
  explicit RawBlock(const std::u16string& guid) {
    std::string name;
    platform::automation::ToAsciiName(guid, name);
    handle_ = platform::CurrentSharedMemory().Open(name).handle;
    if (handle_ != 0) view_ = platform::CurrentSharedMemory().Map(handle_).view;
  }
  ~RawBlock() {
    if (view_ != nullptr) platform::CurrentSharedMemory().Unmap(view_);
    if (handle_ != 0) platform::CurrentSharedMemory().Close(handle_);
  }
  RawBlock(const RawBlock&) = delete;
  RawBlock& operator=(const RawBlock&) = delete;

  bool ok() const { return view_ != nullptr; }
  std::uint8_t at(std::size_t offset) const { return std::to_integer<std::uint8_t>(view_[offset]); }
  void set(std::size_t offset, std::uint8_t value) { view_[offset] = std::byte{value}; }
  void set16(std::size_t offset, std::int16_t value) {
    set(offset, static_cast<std::uint8_t>(value & 0xFF));
    set(offset + 1, static_cast<std::uint8_t>((static_cast<std::uint16_t>(value) >> 8) & 0xFF));
  }
  // UTF-16LE code units, as another process may write them: whatever they
  // are, identifier or not.
  void SetText(std::size_t offset, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) set16(offset + 2 * i, static_cast<std::int16_t>(text[i]));
  }
  std::array<std::uint8_t, 1024> Snapshot() const {
    std::array<std::uint8_t, 1024> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = at(i);
    return bytes;
  }

 private:
  platform::BlockHandle handle_ = 0;
  std::byte* view_ = nullptr;
};

// Whether a block of that name exists (without creating one).
inline bool BlockExists(const std::u16string& guid) {
  RawBlock probe(guid);
  return probe.ok();
}

}  // namespace dovel::testing
