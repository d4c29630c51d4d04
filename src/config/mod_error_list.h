#pragma once

#include <cstdint>

namespace dovel::config {

// Error numbers the system raises or meets. Errors travel as numbers only.
inline constexpr std::int32_t kErrInvalidProcedureCall = 5;
inline constexpr std::int32_t kErrOverflow = 6;
inline constexpr std::int32_t kErrOutOfMemory = 7;
inline constexpr std::int32_t kErrSubscriptOutOfRange = 9;
// A type mismatch; the system also raises it for a record or list head that
// is not attached to a shared block.
inline constexpr std::int32_t kErrTypeMismatch = 13;
inline constexpr std::int32_t kErrNotAttached = kErrTypeMismatch;
// An identifier string that is not exactly 38 characters long.
inline constexpr std::int32_t kErrBadIdentifierLength = 160;
// GetGUID's result when the platform could not make a GUID.
inline constexpr std::int32_t kErrGuidSourceFailed = 1;
// A value that does not fit the field it is written to.
inline constexpr std::int32_t kErrValueTooLong = 380;  // "invalid property value"
// A list whose chain does not come back to its head within the bound.
inline constexpr std::int32_t kErrBrokenChain = 1392;  // "file or directory is corrupted"

}  // namespace dovel::config
