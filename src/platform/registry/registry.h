#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/current.h"

namespace dovel::platform {

// An open registry key: an opaque number. 0 means "no key". The predefined
// roots below are always open and never need closing. The Win32 build maps
// them to the HKEY_* handles (sign-extended on 64-bit Windows).
using RegistryKey = std::uintptr_t;

inline constexpr RegistryKey kHkeyClassesRoot = 0x80000000u;
inline constexpr RegistryKey kHkeyCurrentUser = 0x80000001u;
inline constexpr RegistryKey kHkeyLocalMachine = 0x80000002u;
inline constexpr RegistryKey kHkeyUsers = 0x80000003u;
inline constexpr RegistryKey kHkeyCurrentConfig = 0x80000005u;

// Value type codes, as stored with each value.
namespace reg_type {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kSz = 1;
inline constexpr std::uint32_t kExpandSz = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kDwordBigEndian = 5;
inline constexpr std::uint32_t kLink = 6;
inline constexpr std::uint32_t kMultiSz = 7;
inline constexpr std::uint32_t kQword = 11;
}  // namespace reg_type

// Windows system error codes the registry calls return besides the common
// ones in core/system_error.h (0 success, 2 missing, 5 denied, 6 bad handle,
// 87 bad parameter).
namespace registry_error {
inline constexpr std::int32_t kOutOfMemory = 14;
inline constexpr std::int32_t kLockViolation = 33;   // the store stayed locked past the wait
inline constexpr std::int32_t kDiskFull = 112;
inline constexpr std::int32_t kBadPathname = 161;    // an empty component in a key path
inline constexpr std::int32_t kMoreData = 234;       // the caller's buffer is too small
inline constexpr std::int32_t kNoMoreItems = 259;    // enumeration past the last entry
inline constexpr std::int32_t kBadDb = 1009;         // the store is corrupt or not a registry store
inline constexpr std::int32_t kRegistryIoFailed = 1016;
inline constexpr std::int32_t kKeyDeleted = 1018;    // the open key no longer exists
inline constexpr std::int32_t kNoSystemResources = 1450;  // too many open keys
}  // namespace registry_error

// The system registry, called the way the ANSI Win32 registry functions are,
// so the Win32 build forwards each method to the named call unchanged.
// Every method returns a Windows system error code, 0 for success.
//
// Names are 8-bit text. A key path is a sequence of key names separated by
// single backslashes ("Software\Ostrel\Vimra"); an empty path names the key
// itself; an empty component (leading, trailing or doubled backslash) gives
// 161. Key and value names match case-insensitively (ASCII and Latin-1
// letters) and keep the case they were created with. A name ends at its
// first NUL, as the C string of the Win32 call would.
//
// Threads: every method may be called from any thread. Handles belong to the
// process, not the thread, and a handle may be closed on another thread.
class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyA(root, sub_key, &key). Opens an existing key below `root` (a
  // predefined root or an open key). Never creates anything. Success: 0 and
  // a new handle in `key`. Failure: `key` = 0 and 2 when the key (or the
  // whole store) does not exist, 6 for an unknown `root`, 161 for a bad path,
  // 1009 for a store that cannot be read.
  virtual std::int32_t OpenKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) = 0;

  // RegCreateKeyA(root, sub_key, &key). Opens the key, first creating it and
  // every missing key on its path in one step (all or nothing). Existing keys
  // keep their stored case. Failure: `key` = 0 and the code, e.g. 5 when the
  // store cannot be written, 33 when it stayed locked, 1009 when it is
  // corrupt; nothing is changed then.
  virtual std::int32_t CreateKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) = 0;

  // RegQueryValueExA(key, value_name, NULL, type, data, size). `type`,
  // `data` and `size` may each be null; `size` must not be null when `data`
  // is not (87). On entry *size is the buffer's size in bytes; on return it
  // is the value's size, which for text includes a stored NUL if there is
  // one. Without `data` the call only reports type and size. With a buffer
  // that is too small: 234, *size = the size needed, buffer undefined.
  // 2 when the value does not exist, 6 for an unknown key.
  virtual std::int32_t QueryValue(RegistryKey key, std::string_view value_name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) = 0;

  // RegSetValueExA(key, value_name, 0, type, data, size). Stores exactly
  // `size` bytes under the name with the given type, replacing a value of
  // any type. `data` may be null only when `size` is 0 (else 87). Failure
  // codes as for CreateKey, plus 1018 when the key has gone.
  virtual std::int32_t SetValue(RegistryKey key, std::string_view value_name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) = 0;

  // RegDeleteValueA(key, value_name). 0, or 2 when there is no such value.
  virtual std::int32_t DeleteValue(RegistryKey key, std::string_view value_name) = 0;

  // RegEnumKeyA(key, index, ...). The index-th subkey's name, in
  // case-insensitive name order; 259 past the last one.
  virtual std::int32_t EnumKey(RegistryKey key, std::uint32_t index, std::string& name) = 0;

  // RegEnumValueA(key, index, ..., &type, NULL, NULL). The index-th value's
  // name and type, in the order the values were first written; 259 past the
  // last one.
  virtual std::int32_t EnumValue(RegistryKey key, std::uint32_t index, std::string& name,
                                 std::uint32_t& type) = 0;

  // RegCloseKey(key). 0; 6 for 0 or a handle that is not open. Closing a
  // predefined root does nothing and returns 0.
  virtual std::int32_t CloseKey(RegistryKey key) = 0;
};

template <>
Registry& SystemDefault<Registry>();

inline Registry& CurrentRegistry() { return Current<Registry>::Get(); }

// The predefined root a name stands for: "HKLM" or "HKEY_LOCAL_MACHINE",
// likewise HKCR, HKCU, HKU and HKCC, any case. False for anything else.
bool RegistryRootFromName(std::string_view name, RegistryKey& root);

// "HKEY_LOCAL_MACHINE" etc., or an empty view for a key that is not a root.
std::string_view RegistryRootName(RegistryKey root);

// "REG_SZ", "REG_DWORD", ...; "REG_0x..." style text for unknown codes.
std::string RegistryTypeName(std::uint32_t type);

}  // namespace dovel::platform
