#pragma once

#include <cstdint>

namespace dovel::platform {

// Failures leave the platform layer as Windows system error codes, because
// they become result codes and error numbers that callers and logs rely on.
namespace win32_error {
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kInvalidFunction = 1;
inline constexpr std::int32_t kFileNotFound = 2;
inline constexpr std::int32_t kTooManyOpenFiles = 4;
inline constexpr std::int32_t kAccessDenied = 5;
inline constexpr std::int32_t kInvalidHandle = 6;
inline constexpr std::int32_t kNotEnoughMemory = 8;
inline constexpr std::int32_t kInvalidParameter = 87;
inline constexpr std::int32_t kInvalidName = 123;
inline constexpr std::int32_t kAlreadyExists = 183;
inline constexpr std::int32_t kFilenameExcedRange = 206;
inline constexpr std::int32_t kWaitTimeout = 258;
inline constexpr std::int32_t kNoSystemResources = 1450;
}  // namespace win32_error

}  // namespace dovel::platform
