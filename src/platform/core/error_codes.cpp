#include "platform/core/error_codes.h"

#include <cstdio>

namespace dovel {
namespace {

std::string Numbered(const char* space, int value) {
  char text[48];
  std::snprintf(text, sizeof text, "%s %d", space, value);
  return text;
}

class SystemErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "dovel.system"; }
  std::string message(int value) const override {
    switch (static_cast<SystemError>(value)) {
      case SystemError::kInvalidFunction: return "the operation failed";
      case SystemError::kFileNotFound: return "no such block, key or value";
      case SystemError::kPathNotFound: return "a directory on the path is missing";
      case SystemError::kTooManyOpenFiles: return "out of descriptors";
      case SystemError::kAccessDenied: return "access denied";
      case SystemError::kInvalidHandle: return "the handle is not open";
      case SystemError::kNotEnoughMemory: return "not enough memory";
      case SystemError::kRegistryOutOfMemory: return "not enough memory for the registry";
      case SystemError::kLockViolation: return "the store stayed locked";
      case SystemError::kInvalidParameter: return "invalid parameter";
      case SystemError::kDiskFull: return "the disk is full";
      case SystemError::kInvalidName: return "invalid name";
      case SystemError::kBadPathname: return "a key path has an empty component";
      case SystemError::kAlreadyExists: return "already exists";
      case SystemError::kFilenameExcedRange: return "the name is too long";
      case SystemError::kMoreData: return "the buffer is too small";
      case SystemError::kWaitTimeout: return "still taken after the wait";
      case SystemError::kNoMoreItems: return "no more items";
      case SystemError::kRegistryCorrupt: return "the registry store is damaged";
      case SystemError::kRegistryIoFailed: return "the registry store could not be read or written";
      case SystemError::kKeyDeleted: return "the key was deleted";
      case SystemError::kNoSystemResources: return "out of system resources";
    }
    return Numbered("system error", value);
  }
};

class RuntimeErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "dovel.runtime"; }
  std::string message(int value) const override {
    switch (static_cast<RuntimeError>(value)) {
      case RuntimeError::kGuidSourceFailed: return "no GUID could be made";
      case RuntimeError::kInvalidProcedureCall: return "invalid procedure call or argument";
      case RuntimeError::kOverflow: return "overflow";
      case RuntimeError::kOutOfMemory: return "out of memory";
      case RuntimeError::kSubscriptOutOfRange: return "subscript out of range";
      case RuntimeError::kTypeMismatch: return "type mismatch";
      case RuntimeError::kInternalError: return "internal error";
      case RuntimeError::kBadFileName: return "bad file name or number";
      case RuntimeError::kPathFileAccess: return "path/file access error";
      case RuntimeError::kObjectNotSet: return "object variable not set";
      case RuntimeError::kBadIdentifierLength: return "an identifier is not 38 characters long";
      case RuntimeError::kBrokenChain: return "a list's chain does not come back to its head";
      case RuntimeError::kInvalidPropertyValue: return "invalid property value";
      case RuntimeError::kCannotCreateObject: return "cannot create object";
      case RuntimeError::kNoAutomation: return "class does not support automation";
      case RuntimeError::kMemberNotFound: return "object does not support this property or method";
      case RuntimeError::kAutomationError: return "automation error";
      case RuntimeError::kNoNamedArguments: return "object does not support named arguments";
      case RuntimeError::kNamedArgumentNotFound: return "named argument not found";
      case RuntimeError::kArgumentNotOptional: return "argument not optional";
      case RuntimeError::kWrongArgumentCount: return "wrong number of arguments";
      case RuntimeError::kUnsupportedType: return "variable uses an unsupported automation type";
    }
    return Numbered("runtime error", value);
  }
};

class HResultCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "dovel.hresult"; }
  std::string message(int value) const override {
    switch (static_cast<HResult>(value)) {
      case HResult::kNoConnection: return "no such connection";
      case HResult::kWrongThread: return "called from another thread";
      case HResult::kParameterNotFound: return "parameter not found";
    }
    char text[32];
    std::snprintf(text, sizeof text, "HRESULT 0x%08X", static_cast<unsigned>(value));
    return text;
  }
};

}  // namespace

const std::error_category& system_error_category() noexcept {
  static const SystemErrorCategory category;
  return category;
}
const std::error_category& runtime_error_category() noexcept {
  static const RuntimeErrorCategory category;
  return category;
}
const std::error_category& hresult_category() noexcept {
  static const HResultCategory category;
  return category;
}

std::error_code SystemStatus(std::int32_t code) noexcept {
  if (code == 0) return {};
  return {code, system_error_category()};
}
std::error_code RuntimeStatus(std::int32_t number) noexcept {
  if (number == 0) return {};
  return {number, runtime_error_category()};
}
std::error_code HResultStatus(std::int32_t hresult) noexcept {
  if (hresult == 0) return {};
  return {hresult, hresult_category()};
}

}  // namespace dovel
