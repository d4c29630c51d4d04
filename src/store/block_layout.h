#pragma once

#include <cstdint>

namespace dovel::store::layout {

// Where each field lives in a 1024-byte block. Other processes read and
// write these offsets directly; they never change.

inline constexpr std::int32_t kIdentifierChars = 38;
inline constexpr std::int32_t kIdentifierBytes = 76;

// Message block.
inline constexpr std::uint32_t kMessageGuid = 0;
inline constexpr std::uint32_t kNameCount = 76;
inline constexpr std::uint32_t kNameText = 78;
inline constexpr std::int32_t kTextCapacityBytes = 100;  // 50 code units
inline constexpr std::uint32_t kPriority = 178;
inline constexpr std::uint32_t kAuto = 180;
inline constexpr std::uint32_t kDataCount = 182;
inline constexpr std::uint32_t kDataBytes = 184;
inline constexpr std::int32_t kDataCapacityBytes = 256;
inline constexpr std::uint32_t kOwnerNameCount = 440;
inline constexpr std::uint32_t kOwnerNameText = 442;
inline constexpr std::uint32_t kOwnerGuid = 542;
inline constexpr std::uint32_t kClientGuid = 618;
inline constexpr std::uint32_t kNextMsgGuid = 694;
inline constexpr std::uint32_t kHeadGuid = 770;

// List-head block.
inline constexpr std::uint32_t kFirstMsgGuid = 0;

}  // namespace dovel::store::layout
