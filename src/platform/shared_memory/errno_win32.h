#pragma once

#include <cerrno>
#include <system_error>

#include "platform/core/error_codes.h"

namespace dovel::platform::posix_block {

// The Windows code a caller would have seen for the same failure; success
// for 0.
[[nodiscard]] inline std::error_code Win32FromErrno(int error) {
  switch (error) {
    case 0: return {};
    case ENOENT: return SystemError::kFileNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:  // someone else's object squatting on the name
    case ELOOP: return SystemError::kAccessDenied;
    case EMFILE:
    case ENFILE: return SystemError::kTooManyOpenFiles;
    case ENOMEM: return SystemError::kNotEnoughMemory;
    case ENOSPC:
    case EFBIG: return SystemError::kNoSystemResources;
    case EINVAL: return SystemError::kInvalidName;
    case ENAMETOOLONG: return SystemError::kFilenameExcedRange;
    case EEXIST: return SystemError::kAlreadyExists;
    case EBADF: return SystemError::kInvalidHandle;
    default: return SystemError::kInvalidFunction;
  }
}

}  // namespace dovel::platform::posix_block
