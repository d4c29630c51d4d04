#pragma once

#include <cerrno>
#include <cstdint>

#include "platform/core/system_error.h"

namespace dovel::platform::posix_block {

// The Windows code a caller would have seen for the same failure.
inline std::int32_t Win32FromErrno(int error) {
  switch (error) {
    case 0: return win32_error::kSuccess;
    case ENOENT: return win32_error::kFileNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:  // someone else's object squatting on the name
    case ELOOP: return win32_error::kAccessDenied;
    case EMFILE:
    case ENFILE: return win32_error::kTooManyOpenFiles;
    case ENOMEM: return win32_error::kNotEnoughMemory;
    case ENOSPC:
    case EFBIG: return win32_error::kNoSystemResources;
    case EINVAL: return win32_error::kInvalidName;
    case ENAMETOOLONG: return win32_error::kFilenameExcedRange;
    case EEXIST: return win32_error::kAlreadyExists;
    case EBADF: return win32_error::kInvalidHandle;
    default: return win32_error::kInvalidFunction;
  }
}

}  // namespace dovel::platform::posix_block
