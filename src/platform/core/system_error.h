#pragma once

// Transitional: the bare numbers of SystemError, for code not yet carrying
// std::error_code. Goes when its last user does.

#include <cstdint>

#include "platform/core/error_codes.h"

namespace dovel::platform::win32_error {
#define DOVEL_SYSTEM_NUMBER(name) inline constexpr std::int32_t name = static_cast<std::int32_t>(SystemError::name)
inline constexpr std::int32_t kSuccess = 0;
DOVEL_SYSTEM_NUMBER(kInvalidFunction);
DOVEL_SYSTEM_NUMBER(kFileNotFound);
DOVEL_SYSTEM_NUMBER(kTooManyOpenFiles);
DOVEL_SYSTEM_NUMBER(kAccessDenied);
DOVEL_SYSTEM_NUMBER(kInvalidHandle);
DOVEL_SYSTEM_NUMBER(kNotEnoughMemory);
DOVEL_SYSTEM_NUMBER(kInvalidParameter);
DOVEL_SYSTEM_NUMBER(kInvalidName);
DOVEL_SYSTEM_NUMBER(kAlreadyExists);
DOVEL_SYSTEM_NUMBER(kFilenameExcedRange);
DOVEL_SYSTEM_NUMBER(kWaitTimeout);
DOVEL_SYSTEM_NUMBER(kNoSystemResources);
#undef DOVEL_SYSTEM_NUMBER
}  // namespace dovel::platform::win32_error
