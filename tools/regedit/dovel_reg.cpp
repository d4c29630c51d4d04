// dovel-reg: reads and changes the settings the server keeps in the
// registry (on POSIX the store named by $DOVEL_REGISTRY, else
// /var/lib/dovel/registry.db).
//
//   dovel-reg get KEYPATH NAME
//   dovel-reg set KEYPATH NAME VALUE      (stored as REG_SZ)
//   dovel-reg list KEYPATH
//   dovel-reg delete KEYPATH NAME
//
// KEYPATH starts with a root (HKLM, HKCU, HKCR, HKU, HKCC or the long
// HKEY_ names): HKLM\Software\Ostrel\Vimra\Communications. Exit status 0 on
// success, 1 otherwise with the reason on stderr.

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/automation/text.h"
#include "platform/core/error_codes.h"
#include "platform/registry/registry.h"
#include "tools/regedit/reg_command.h"

namespace {

namespace platform = dovel::platform;
using dovel::SystemError;
using dovel::tools::KeyPath;
using dovel::tools::ParsedRegCommand;
using dovel::tools::RegCommand;

std::string FromStoreText(std::string_view bytes) {
  std::u16string wide;
  wide.reserve(bytes.size());
  for (const char byte : bytes) wide += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return platform::automation::ToUtf8(wide);
}

// A status as the administrator sees it: the system's number and what it
// means.
std::string Describe(const std::error_code& status) {
  const char* text = nullptr;
  if (status.category() == dovel::system_error_category()) {
    switch (static_cast<SystemError>(status.value())) {
      case SystemError::kFileNotFound: text = "not found"; break;
      case SystemError::kPathNotFound: text = "the store's directory cannot be made"; break;
      case SystemError::kAccessDenied: text = "access denied"; break;
      case SystemError::kInvalidHandle: text = "invalid handle"; break;
      case SystemError::kRegistryOutOfMemory: text = "out of memory"; break;
      case SystemError::kLockViolation: text = "the store stayed locked by another process"; break;
      case SystemError::kInvalidParameter: text = "invalid parameter"; break;
      case SystemError::kDiskFull: text = "disk full"; break;
      case SystemError::kBadPathname: text = "bad key path (empty key name)"; break;
      case SystemError::kRegistryCorrupt: text = "the store is corrupt or not a registry store"; break;
      case SystemError::kRegistryIoFailed: text = "I/O error in the store"; break;
      case SystemError::kKeyDeleted: text = "the key was deleted"; break;
      case SystemError::kNoSystemResources: text = "too many open keys"; break;
      default: break;
    }
  }
  std::string out = "error " + std::to_string(dovel::ErrorNumber(status));
  if (text != nullptr) out += std::string(" (") + text + ")";
  return out;
}

int Usage() {
  std::fputs(
      "usage: dovel-reg get KEYPATH NAME\n"
      "       dovel-reg set KEYPATH NAME VALUE\n"
      "       dovel-reg list KEYPATH\n"
      "       dovel-reg delete KEYPATH NAME\n"
      "KEYPATH: ROOT\\Key\\..., ROOT one of HKLM HKCU HKCR HKU HKCC (or HKEY_...),\n"
      "e.g. HKLM\\Software\\Ostrel\\Vimra\\Communications. NAME \"\" is the key's default value.\n",
      stderr);
  return 1;
}

std::string ShowName(std::string_view name) { return name.empty() ? "(default)" : FromStoreText(name); }

// A value as text for the terminal: text types up to their first NUL,
// numbers in decimal, anything else as hexadecimal bytes.
std::string FormatData(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  auto little_endian = [&](std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes; i-- > 0;) value = (value << 8) | data[i];
    return value;
  };
  if (type == platform::reg_type::kSz || type == platform::reg_type::kExpandSz) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    return FromStoreText(text.substr(0, text.find('\0')));
  }
  if (type == platform::reg_type::kDword && data.size() == 4) return std::to_string(little_endian(4));
  if (type == platform::reg_type::kQword && data.size() == 8) return std::to_string(little_endian(8));
  std::string hex;
  char pair[4];
  for (const std::uint8_t byte : data) {
    std::snprintf(pair, sizeof pair, "%s%02x", hex.empty() ? "" : " ", byte);
    hex += pair;
  }
  return hex;
}

// Reads a value whatever its size; the status of the registry call.
std::error_code ReadValue(platform::Registry& registry, platform::RegistryKey key, const std::string& name,
                          std::uint32_t& type, std::vector<std::uint8_t>& data) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::uint32_t size = 0;
    if (const auto status = registry.QueryValue(key, name, &type, nullptr, &size)) return status;
    data.assign(size, 0);
    std::uint32_t capacity = size;
    const auto status = registry.QueryValue(key, name, &type, data.data(), &capacity);
    // Another process may have made it longer in between: ask again.
    if (status == SystemError::kMoreData) continue;
    if (!status) data.resize(capacity);
    return status;
  }
  return SystemError::kMoreData;
}

int OpenFailed(const KeyPath& path, const std::error_code& status) {
  if (status == SystemError::kFileNotFound) {
    std::fprintf(stderr, "dovel-reg: no such key: %s\n", path.shown.c_str());
  } else {
    std::fprintf(stderr, "dovel-reg: cannot open %s: %s\n", path.shown.c_str(), Describe(status).c_str());
  }
  return 1;
}

int Get(const KeyPath& path, const std::string& name) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Open(registry, path.root, path.sub_key)) {
    return OpenFailed(path, status);
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (const auto status = ReadValue(registry, key.get(), name, type, data)) {
    if (status == SystemError::kFileNotFound) {
      std::fprintf(stderr, "dovel-reg: no value %s in %s\n", ShowName(name).c_str(), path.shown.c_str());
    } else {
      std::fprintf(stderr, "dovel-reg: cannot read %s in %s: %s\n", ShowName(name).c_str(), path.shown.c_str(),
                   Describe(status).c_str());
    }
    return 1;
  }
  std::printf("%s\n", FormatData(type, data).c_str());
  return 0;
}

int Set(const KeyPath& path, const std::string& name, const std::string& value) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Create(registry, path.root, path.sub_key)) {
    std::fprintf(stderr, "dovel-reg: cannot create %s: %s\n", path.shown.c_str(), Describe(status).c_str());
    return 1;
  }
  std::string bytes = value;
  bytes.push_back('\0');  // stored with its NUL, as the server writes text
  const auto status = registry.SetValue(key.get(), name, platform::reg_type::kSz,
                                        reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        static_cast<std::uint32_t>(bytes.size()));
  if (status) {
    std::fprintf(stderr, "dovel-reg: cannot write %s in %s: %s\n", ShowName(name).c_str(), path.shown.c_str(),
                 Describe(status).c_str());
    return 1;
  }
  return 0;
}

int List(const KeyPath& path) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Open(registry, path.root, path.sub_key)) {
    return OpenFailed(path, status);
  }
  std::error_code status;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    status = registry.EnumKey(key.get(), index, name);
    if (status) break;
    std::printf("%s\\\n", FromStoreText(name).c_str());
  }
  if (status != SystemError::kNoMoreItems) {
    std::fprintf(stderr, "dovel-reg: cannot list %s: %s\n", path.shown.c_str(), Describe(status).c_str());
    return 1;
  }
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    std::uint32_t type = 0;
    status = registry.EnumValue(key.get(), index, name, type);
    if (status) break;
    std::vector<std::uint8_t> data;
    const auto read = ReadValue(registry, key.get(), name, type, data);
    std::printf("%s\t%s\t%s\n", ShowName(name).c_str(), platform::RegistryTypeName(type).c_str(),
                !read ? FormatData(type, data).c_str() : ("<" + Describe(read) + ">").c_str());
  }
  if (status != SystemError::kNoMoreItems) {
    std::fprintf(stderr, "dovel-reg: cannot list %s: %s\n", path.shown.c_str(), Describe(status).c_str());
    return 1;
  }
  return 0;
}

int Delete(const KeyPath& path, const std::string& name) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Open(registry, path.root, path.sub_key)) {
    return OpenFailed(path, status);
  }
  if (const auto status = registry.DeleteValue(key.get(), name)) {
    if (status == SystemError::kFileNotFound) {
      std::fprintf(stderr, "dovel-reg: no value %s in %s\n", ShowName(name).c_str(), path.shown.c_str());
    } else {
      std::fprintf(stderr, "dovel-reg: cannot delete %s in %s: %s\n", ShowName(name).c_str(), path.shown.c_str(),
                   Describe(status).c_str());
    }
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedRegCommand parsed = dovel::tools::ParseRegCommand(argc, argv);
  if (parsed.error == ParsedRegCommand::Error::kBadRoot) {
    std::fprintf(stderr, "dovel-reg: %.*s is not a registry root (use HKLM, HKCU, HKCR, HKU or HKCC)\n",
                 static_cast<int>(parsed.bad_root.size()), parsed.bad_root.data());
    return 1;
  }
  if (parsed.error != ParsedRegCommand::Error::kNone) return Usage();
  const RegCommand& command = parsed.command;
  switch (command.kind) {
    case RegCommand::Kind::kGet: return Get(command.path, command.name);
    case RegCommand::Kind::kSet: return Set(command.path, command.name, command.value);
    case RegCommand::Kind::kList: return List(command.path);
    case RegCommand::Kind::kDelete: return Delete(command.path, command.name);
  }
  return Usage();
}
