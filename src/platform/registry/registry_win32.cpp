// The system registry, one ANSI registry call per method. Two places differ
// from the plain calls, both to keep the contract: opening and creating go
// through the Ex forms, because RegOpenKeyA and RegCreateKeyA hand back the
// caller's own handle for an empty path (closing both would close it twice),
// and a null buffer with a non-zero size is refused before it reaches the
// system.

#include <windows.h>

#include <string>

#include "platform/core/system_error.h"
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

std::int32_t Code(LSTATUS status) { return static_cast<std::int32_t>(status); }

// A name ends at its first NUL, as the C string of the call would.
std::string CString(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

class Win32Registry final : public Registry {
 public:
  std::int32_t OpenKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) override {
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExA(ToHkey(root), CString(sub_key).c_str(), 0, MAXIMUM_ALLOWED, &opened);
    key = status == ERROR_SUCCESS ? FromHkey(opened) : 0;
    return Code(status);
  }

  std::int32_t CreateKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) override {
    HKEY created = nullptr;
    const LSTATUS status = RegCreateKeyExA(ToHkey(root), CString(sub_key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           MAXIMUM_ALLOWED, nullptr, &created, nullptr);
    key = status == ERROR_SUCCESS ? FromHkey(created) : 0;
    return Code(status);
  }

  std::int32_t QueryValue(RegistryKey key, std::string_view value_name, std::uint32_t* type, std::uint8_t* data,
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
    return Code(status);
  }

  std::int32_t SetValue(RegistryKey key, std::string_view value_name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) override {
    if (data == nullptr && size != 0) return win32_error::kInvalidParameter;
    return Code(RegSetValueExA(ToHkey(key), CString(value_name).c_str(), 0, type, data, size));
  }

  std::int32_t DeleteValue(RegistryKey key, std::string_view value_name) override {
    return Code(RegDeleteValueA(ToHkey(key), CString(value_name).c_str()));
  }

  std::int32_t EnumKey(RegistryKey key, std::uint32_t index, std::string& name) override {
    char buffer[MAX_PATH + 1];  // key names are at most 255 characters
    const LSTATUS status = RegEnumKeyA(ToHkey(key), index, buffer, sizeof buffer);
    if (status == ERROR_SUCCESS) name = buffer;
    return Code(status);
  }

  std::int32_t EnumValue(RegistryKey key, std::uint32_t index, std::string& name, std::uint32_t& type) override {
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
    return Code(status);
  }

  std::int32_t CloseKey(RegistryKey key) override { return Code(RegCloseKey(ToHkey(key))); }
};

}  // namespace

template <>
Registry& SystemDefault<Registry>() {
  static Win32Registry registry;
  return registry;
}

}  // namespace dovel::platform
