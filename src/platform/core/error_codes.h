#pragma once

// The system's three number spaces, each its own error category, so that a
// status says which space it belongs to: 13 from the shared-block layer (a
// Windows system code, "the data is invalid") can never be mistaken for 13
// raised by a procedure ("type mismatch").
//
// Inside the system a status is a std::error_code. It becomes a bare number
// only where it leaves the system: an error report's number, a COM return
// value, a documented result code, a tool's exit status. ErrorNumber is that
// one conversion. Every number the system uses is named here, once.

#include <cstdint>
#include <string>
#include <system_error>

namespace dovel {

// Windows system error codes. The platform layer reports its failures in
// this space on every system (the POSIX layer translates errno), because
// they become result codes and error numbers that callers and logs rely on.
enum class SystemError : std::int32_t {
  kInvalidFunction = 1,  // a failure with no closer code
  kFileNotFound = 2,
  kPathNotFound = 3,  // a directory on the way is missing or cannot be made
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidHandle = 6,
  kNotEnoughMemory = 8,
  kRegistryOutOfMemory = 14,
  kLockViolation = 33,  // the registry store stayed locked past the wait
  kInvalidParameter = 87,
  kDiskFull = 112,
  kInvalidName = 123,
  kBadPathname = 161,  // an empty component in a registry key path
  kAlreadyExists = 183,
  kFilenameExcedRange = 206,
  kMoreData = 234,  // the caller's buffer is too small
  kWaitTimeout = 258,
  kNoMoreItems = 259,       // enumeration past the last entry
  kRegistryCorrupt = 1009,  // the store is corrupt or not a registry store
  kRegistryIoFailed = 1016,
  kKeyDeleted = 1018,  // the open key no longer exists
  kNoSystemResources = 1450,
};

// Error numbers of the automation runtime, and the system's own numbers
// raised the same way: what procedures raise and report, and what a
// late-bound call returns.
enum class RuntimeError : std::int32_t {
  kGuidSourceFailed = 1,  // GetGUID's result when no GUID could be made
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  // Also raised for a record or list head that is not attached to a block.
  kTypeMismatch = 13,
  kNotAttached = kTypeMismatch,
  kInternalError = 51,
  kBadFileName = 52,     // LogError before a usable AppErrorFile
  kPathFileAccess = 75,  // directory or file cannot be written
  kObjectNotSet = 91,
  kBadIdentifierLength = 160,   // an identifier that is not exactly 38 characters
  kInvalidPropertyValue = 380,  // also: a value too long for its field
  kCannotCreateObject = 429,
  kNoAutomation = 430,
  kMemberNotFound = 438,
  kAutomationError = 440,
  kNoNamedArguments = 446,
  kNamedArgumentNotFound = 448,
  kArgumentNotOptional = 449,
  kWrongArgumentCount = 450,
  kUnsupportedType = 458,
  kBrokenChain = 1392,  // a list whose chain does not come back to its head
};

// COM status codes (HRESULTs) the system returns itself. Success in every
// space is the empty std::error_code, never a named zero: a zero in one
// category would not compare equal to success in another. Any other HRESULT
// met at the COM boundary travels in the same category by its value.
enum class HResult : std::int32_t {
  kNoConnection = static_cast<std::int32_t>(0x80040200u),  // CONNECT_E_NOCONNECTION
  // A call from a thread other than the one that created the object.
  kWrongThread = static_cast<std::int32_t>(0x8001010Eu),        // RPC_E_WRONG_THREAD
  kParameterNotFound = static_cast<std::int32_t>(0x80020004u),  // DISP_E_PARAMNOTFOUND
};

}  // namespace dovel

template <>
struct std::is_error_code_enum<dovel::SystemError> : std::true_type {};
template <>
struct std::is_error_code_enum<dovel::RuntimeError> : std::true_type {};
template <>
struct std::is_error_code_enum<dovel::HResult> : std::true_type {};

namespace dovel {

const std::error_category& system_error_category() noexcept;
const std::error_category& runtime_error_category() noexcept;
const std::error_category& hresult_category() noexcept;

inline std::error_code make_error_code(SystemError e) noexcept {
  return {static_cast<int>(e), system_error_category()};
}
inline std::error_code make_error_code(RuntimeError e) noexcept {
  return {static_cast<int>(e), runtime_error_category()};
}
inline std::error_code make_error_code(HResult e) noexcept { return {static_cast<int>(e), hresult_category()}; }

// A number met at an edge, taken into its space. Success (0) in any space
// is the empty status, so `if (status)` always means "failed".
std::error_code SystemStatus(std::int32_t code) noexcept;
std::error_code RuntimeStatus(std::int32_t number) noexcept;
std::error_code HResultStatus(std::int32_t hresult) noexcept;

// The bare number of a status where it leaves the system: 0 for success.
inline std::int32_t ErrorNumber(const std::error_code& status) noexcept {
  return static_cast<std::int32_t>(status.value());
}
template <class Code>
  requires std::is_error_code_enum_v<Code>
constexpr std::int32_t ErrorNumber(Code code) noexcept { return static_cast<std::int32_t>(code); }

}  // namespace dovel
