// The system registry, one ANSI registry call per method. Two places differ
// from the plain calls, both to keep the contract: opening and creating go
// through the Ex forms, because RegOpenKeyA and RegCreateKeyA hand back the
// caller's own handle for an empty path (closing both would close it twice),
// and a null buffer with a non-zero size is refused before it reaches the
// system.

#include <windows.h>

#include <string>
#include <utility>

#include "platform/core/error_codes.h"
#include "platform/registry/registry.h"

namespace dovel::platform {
namespace {

// The predefined roots are 32-bit values that Windows sign-extends into its
// 64-bit handles; every other key is the system's handle value itself.
HKEY ToHkey(RegistryKey key) {
  if (key >= kHkeyClassesRoot && key <= kHkeyCurrentConfig) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(key))));
  }
  return reinterpret_cast<HKEY>(key);
}

RegistryKey FromHkey(HKEY key) { return reinterpret_cast<RegistryKey>(key); }

std::error_code Status(LSTATUS status) { return SystemStatus(static_cast<std::int32_t>(status)); }

// A name ends at its first NUL, as the C string of the call would.
std::string CString(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

// The one place RegCloseKey is called: an HKEY is closed here unless it was
// handed to the caller, whose OwnedKey closes it through CloseKey.
class UniqueHkey {
 public:
  UniqueHkey() noexcept = default;
  explicit UniqueHkey(HKEY key) noexcept : key_(key) {}
  UniqueHkey(UniqueHkey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  UniqueHkey& operator=(UniqueHkey&& other) noexcept {
    if (this != &other) {
      Discard();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  UniqueHkey(const UniqueHkey&) = delete;
  UniqueHkey& operator=(const UniqueHkey&) = delete;
  ~UniqueHkey() { Discard(); }

  // Where an open or create call puts the new handle.
  HKEY* Receive() noexcept {
    Discard();
    return &key_;
  }
  HKEY release() noexcept { return std::exchange(key_, nullptr); }
  // RegCloseKey's own answer, also for no key or a root.
  LSTATUS Close() noexcept { return RegCloseKey(std::exchange(key_, nullptr)); }

 private:
  void Discard() noexcept {
    // Only a handle this file never handed out gets here: nothing to report to.
    if (key_ != nullptr) static_cast<void>(Close());
  }

  HKEY key_ = nullptr;
};

class Win32Registry final : public Registry {
 public:
  std::error_code OpenKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) override {
    UniqueHkey opened;
    const LSTATUS status = RegOpenKeyExA(ToHkey(root), CString(sub_key).c_str(), 0, MAXIMUM_ALLOWED, opened.Receive());
    key = status == ERROR_SUCCESS ? FromHkey(opened.release()) : 0;
    return Status(status);
  }

  std::error_code CreateKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) override {
    UniqueHkey created;
    const LSTATUS status = RegCreateKeyExA(ToHkey(root), CString(sub_key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           MAXIMUM_ALLOWED, nullptr, created.Receive(), nullptr);
    key = status == ERROR_SUCCESS ? FromHkey(created.release()) : 0;
    return Status(status);
  }

  std::error_code QueryValue(RegistryKey key, std::string_view value_name, std::uint32_t* type, std::uint8_t* data,
                             std::uint32_t* size) override {
    DWORD stored_type = 0;
    DWORD length = size != nullptr ? *size : 0;
    const LSTATUS status = RegQueryValueExA(ToHkey(key), CString(value_name).c_str(), nullptr,
                                            type != nullptr ? &stored_type : nullptr, data,
                                            size != nullptr ? &length : nullptr);
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
      if (type != nullptr) *type = stored_type;
      if (size != nullptr) *size = length;
    }
    return Status(status);
  }

  std::error_code SetValue(RegistryKey key, std::string_view value_name, std::uint32_t type, const std::uint8_t* data,
                           std::uint32_t size) override {
    if (data == nullptr && size != 0) return SystemError::kInvalidParameter;
    return Status(RegSetValueExA(ToHkey(key), CString(value_name).c_str(), 0, type, data, size));
  }

  std::error_code DeleteValue(RegistryKey key, std::string_view value_name) override {
    return Status(RegDeleteValueA(ToHkey(key), CString(value_name).c_str()));
  }

  std::error_code EnumKey(RegistryKey key, std::uint32_t index, std::string& name) override {
    char buffer[MAX_PATH + 1];  // key names are at most 255 characters
    const LSTATUS status = RegEnumKeyA(ToHkey(key), index, buffer, sizeof buffer);
    if (status == ERROR_SUCCESS) name = buffer;
    return Status(status);
  }

  std::error_code EnumValue(RegistryKey key, std::uint32_t index, std::string& name, std::uint32_t& type) override {
    std::string buffer(16384, '\0');  // value names are at most 16383 characters
    DWORD length = static_cast<DWORD>(buffer.size());
    DWORD stored_type = 0;
    const LSTATUS status =
        RegEnumValueA(ToHkey(key), index, buffer.data(), &length, nullptr, &stored_type, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
      buffer.resize(length);
      name = std::move(buffer);
      type = stored_type;
    }
    return Status(status);
  }

  // The caller's handle comes back to an owner for its one close.
  std::error_code CloseKey(RegistryKey key) override { return Status(UniqueHkey(ToHkey(key)).Close()); }
};

}  // namespace

template <>
Registry& SystemDefault<Registry>() {
  static Win32Registry registry;
  return registry;
}

}  // namespace dovel::platform
