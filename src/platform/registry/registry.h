#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/core/current.h"
#include "platform/core/error_codes.h"

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

// The system registry, called the way the ANSI Win32 registry functions are,
// so the Win32 build forwards each method to the named call unchanged.
// Every method returns the call's Windows system error code as a SystemError
// status; success is the empty status.
//
// Names are 8-bit text. A key path is a sequence of key names separated by
// single backslashes ("Software\Ostrel\Vimra"); an empty path names the key
// itself; an empty component (leading, trailing or doubled backslash) gives
// kBadPathname. Key and value names match case-insensitively (ASCII and
// Latin-1 letters) and keep the case they were created with. A name ends at
// its first NUL, as the C string of the Win32 call would.
//
// Threads: every method may be called from any thread. Handles belong to the
// process, not the thread, and a handle may be closed on another thread.
class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyA(root, sub_key, &key). Opens an existing key below `root` (a
  // predefined root or an open key). Never creates anything. Success: a new
  // handle in `key`. Failure: `key` = 0 and kFileNotFound when the key (or
  // the whole store) does not exist, kInvalidHandle for an unknown `root`,
  // kBadPathname for a bad path, kRegistryCorrupt for a store that cannot be
  // read.
  [[nodiscard]] virtual std::error_code OpenKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) = 0;

  // RegCreateKeyA(root, sub_key, &key). Opens the key, first creating it and
  // every missing key on its path in one step (all or nothing). Existing keys
  // keep their stored case. Failure: `key` = 0 and the status, e.g.
  // kAccessDenied when the store cannot be written, kLockViolation when it
  // stayed locked, kRegistryCorrupt when it is corrupt; nothing is changed
  // then.
  [[nodiscard]] virtual std::error_code CreateKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) = 0;

  // RegQueryValueExA(key, value_name, NULL, type, data, size). `type`,
  // `data` and `size` may each be null; `size` must not be null when `data`
  // is not (kInvalidParameter). On entry *size is the buffer's size in
  // bytes; on return it is the value's size, which for text includes a
  // stored NUL if there is one. Without `data` the call only reports type
  // and size. With a buffer that is too small: kMoreData, *size = the size
  // needed, buffer undefined. kFileNotFound when the value does not exist,
  // kInvalidHandle for an unknown key.
  [[nodiscard]] virtual std::error_code QueryValue(RegistryKey key, std::string_view value_name, std::uint32_t* type,
                                                   std::uint8_t* data, std::uint32_t* size) = 0;

  // RegSetValueExA(key, value_name, 0, type, data, size). Stores exactly
  // `size` bytes under the name with the given type, replacing a value of
  // any type. `data` may be null only when `size` is 0 (else
  // kInvalidParameter). Failures as for CreateKey, plus kKeyDeleted when the
  // key has gone.
  [[nodiscard]] virtual std::error_code SetValue(RegistryKey key, std::string_view value_name, std::uint32_t type,
                                                 const std::uint8_t* data, std::uint32_t size) = 0;

  // RegDeleteValueA(key, value_name). kFileNotFound when there is no such
  // value.
  [[nodiscard]] virtual std::error_code DeleteValue(RegistryKey key, std::string_view value_name) = 0;

  // RegEnumKeyA(key, index, ...). The index-th subkey's name, in
  // case-insensitive name order; kNoMoreItems past the last one.
  [[nodiscard]] virtual std::error_code EnumKey(RegistryKey key, std::uint32_t index, std::string& name) = 0;

  // RegEnumValueA(key, index, ..., &type, NULL, NULL). The index-th value's
  // name and type, in the order the values were first written; kNoMoreItems
  // past the last one.
  [[nodiscard]] virtual std::error_code EnumValue(RegistryKey key, std::uint32_t index, std::string& name,
                                                  std::uint32_t& type) = 0;

  // RegCloseKey(key). kInvalidHandle for 0 or a handle that is not open.
  // Closing a predefined root does nothing and succeeds. Callers hold their
  // keys in an OwnedKey rather than calling this themselves.
  [[nodiscard]] virtual std::error_code CloseKey(RegistryKey key) = 0;
};

// The one owner of a key handle from Open or Create: closes it when it goes,
// so that no way out of a caller leaves a key open. Move-only.
//
// The owner closes whatever the call left in it, even no key after a failed
// call: the settings procedures have always closed their key unconditionally,
// and closing no key changes nothing (kInvalidHandle). An owner never filled,
// moved from or closed closes nothing.
class OwnedKey {
 public:
  OwnedKey() noexcept = default;
  OwnedKey(OwnedKey&& other) noexcept
      : registry_(std::exchange(other.registry_, nullptr)), key_(std::exchange(other.key_, 0)) {}
  OwnedKey& operator=(OwnedKey&& other) noexcept {
    if (this != &other) {
      Discard();
      registry_ = std::exchange(other.registry_, nullptr);
      key_ = std::exchange(other.key_, 0);
    }
    return *this;
  }
  OwnedKey(const OwnedKey&) = delete;
  OwnedKey& operator=(const OwnedKey&) = delete;
  ~OwnedKey() { Discard(); }

  // registry.OpenKey / CreateKey into this owner, after closing what it held.
  [[nodiscard]] std::error_code Open(Registry& registry, RegistryKey root, std::string_view sub_key);
  [[nodiscard]] std::error_code Create(Registry& registry, RegistryKey root, std::string_view sub_key);

  // The handle, for the registry's other calls; 0 when there is none.
  RegistryKey get() const noexcept { return key_; }

  // Closes now, for a caller that wants CloseKey's status. Empty afterwards,
  // even when CloseKey throws.
  [[nodiscard]] std::error_code Close();

 private:
  // Close for a destructor, which has no one to tell.
  void Discard() noexcept;

  Registry* registry_ = nullptr;
  RegistryKey key_ = 0;
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
