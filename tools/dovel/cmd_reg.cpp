// dovel reg: reads and changes the settings the server keeps in the
// registry (on POSIX the store named by $DOVEL_REGISTRY, else
// /var/lib/dovel/registry.db), through the platform registry like the
// server itself.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "platform/automation/text.h"
#include "platform/core/error_codes.h"
#include "platform/registry/registry.h"
#include "tools/dovel/reg_command.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

constexpr const char* kForms =
    "Usage: dovel reg get KEYPATH NAME [--json]\n"
    "       dovel reg set KEYPATH NAME VALUE      (stored as REG_SZ)\n"
    "       dovel reg list KEYPATH [--json]\n"
    "       dovel reg delete KEYPATH NAME\n"
    "KEYPATH: ROOT\\Key\\..., ROOT one of HKLM HKCU HKCR HKU HKCC (or HKEY_...),\n"
    "e.g. HKLM\\Software\\Ostrel\\Vimra\\Communications. NAME \"\" is the key's default value.\n"
    "A KEYPATH whose root is none of those, or a key or value that is not there,\n"
    "is a failure (exit status 1).";

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

std::string ShowName(std::string_view name) { return name.empty() ? "(default)" : FromStoreText(name); }

std::uint64_t LittleEndian(const std::vector<std::uint8_t>& data) {
  std::uint64_t value = 0;
  for (std::size_t i = data.size(); i-- > 0;) value = (value << 8) | data[i];
  return value;
}

bool IsText(std::uint32_t type) { return type == platform::reg_type::kSz || type == platform::reg_type::kExpandSz; }
bool IsNumber(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  return (type == platform::reg_type::kDword && data.size() == 4) ||
         (type == platform::reg_type::kQword && data.size() == 8);
}

// A value as text for the terminal: text types up to their first NUL,
// numbers in decimal, anything else as hexadecimal bytes.
std::string FormatData(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  if (IsText(type)) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    return FromStoreText(text.substr(0, text.find('\0')));
  }
  if (IsNumber(type, data)) return std::to_string(LittleEndian(data));
  std::string hex;
  char pair[4];
  for (const std::uint8_t byte : data) {
    std::snprintf(pair, sizeof pair, "%s%02x", hex.empty() ? "" : " ", byte);
    hex += pair;
  }
  return hex;
}

// The same for JSON: numbers as numbers.
nlohmann::json JsonData(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  if (IsNumber(type, data)) return LittleEndian(data);
  return FormatData(type, data);
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

int Failed(const std::string& what) {
  std::cerr << "dovel: " << what << std::endl;
  return kExitFailed;
}

int OpenFailed(const KeyPath& path, const std::error_code& status) {
  if (status == SystemError::kFileNotFound) return Failed("no such key: " + path.shown);
  return Failed("cannot open " + path.shown + ": " + Describe(status));
}

int ValueFailed(const char* verb, const KeyPath& path, const std::string& name, const std::error_code& status) {
  if (status == SystemError::kFileNotFound) return Failed("no value " + ShowName(name) + " in " + path.shown);
  return Failed(std::string("cannot ") + verb + " " + ShowName(name) + " in " + path.shown + ": " + Describe(status));
}

int Get(const RegCommand& command) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Open(registry, command.path.root, command.path.sub_key)) {
    return OpenFailed(command.path, status);
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (const auto status = ReadValue(registry, key.get(), command.name, type, data)) {
    return ValueFailed("read", command.path, command.name, status);
  }
  if (command.json) {
    PrintJson({{"key", command.path.shown},
               {"name", FromStoreText(command.name)},
               {"type", platform::RegistryTypeName(type)},
               {"value", JsonData(type, data)}});
  } else {
    std::cout << FormatData(type, data) << std::endl;
  }
  return kExitOk;
}

int Set(const RegCommand& command) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Create(registry, command.path.root, command.path.sub_key)) {
    return Failed("cannot create " + command.path.shown + ": " + Describe(status));
  }
  std::string bytes = command.value;
  bytes.push_back('\0');  // stored with its NUL, as the server writes text
  const auto status = registry.SetValue(key.get(), command.name, platform::reg_type::kSz,
                                        reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        static_cast<std::uint32_t>(bytes.size()));
  if (status)
    return Failed("cannot write " + ShowName(command.name) + " in " + command.path.shown + ": " + Describe(status));
  return kExitOk;
}

int List(const RegCommand& command) {
  const KeyPath& path = command.path;
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Open(registry, path.root, path.sub_key)) return OpenFailed(path, status);
  nlohmann::json subkeys = nlohmann::json::array();
  nlohmann::json values = nlohmann::json::array();
  std::error_code status;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    status = registry.EnumKey(key.get(), index, name);
    if (status) break;
    if (command.json) {
      subkeys.push_back(FromStoreText(name));
    } else {
      std::cout << FromStoreText(name) << "\\\n";
    }
  }
  if (status != SystemError::kNoMoreItems) return Failed("cannot list " + path.shown + ": " + Describe(status));
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    std::uint32_t type = 0;
    status = registry.EnumValue(key.get(), index, name, type);
    if (status) break;
    std::vector<std::uint8_t> data;
    const auto read = ReadValue(registry, key.get(), name, type, data);
    const std::string type_name = platform::RegistryTypeName(type);
    if (command.json) {
      nlohmann::json value = {{"name", FromStoreText(name)}, {"type", type_name}};
      if (read) {
        value["error"] = Describe(read);
      } else {
        value["value"] = JsonData(type, data);
      }
      values.push_back(std::move(value));
    } else {
      std::cout << ShowName(name) << '\t' << type_name << '\t'
                << (!read ? FormatData(type, data) : "<" + Describe(read) + ">") << '\n';
    }
  }
  if (status != SystemError::kNoMoreItems) return Failed("cannot list " + path.shown + ": " + Describe(status));
  if (command.json) PrintJson({{"key", path.shown}, {"subkeys", subkeys}, {"values", values}});
  std::cout.flush();
  return kExitOk;
}

int Delete(const RegCommand& command) {
  platform::Registry& registry = platform::CurrentRegistry();
  platform::OwnedKey key;
  if (const auto status = key.Open(registry, command.path.root, command.path.sub_key)) {
    return OpenFailed(command.path, status);
  }
  if (const auto status = registry.DeleteValue(key.get(), command.name)) {
    return ValueFailed("delete", command.path, command.name, status);
  }
  return kExitOk;
}

// `remaining` is the line after "reg", as typed.
int Run(const CLI::App& app, const std::vector<std::string>& remaining) {
  std::vector<const char*> argv{"dovel reg"};
  for (const std::string& arg : remaining) argv.push_back(arg.c_str());
  const ParsedRegCommand parsed = ParseRegCommand(static_cast<int>(argv.size()), argv.data());
  if (parsed.error == ParsedRegCommand::Error::kBadRoot) {
    return Failed(parsed.bad_root + " is not a registry root (use HKLM, HKCU, HKCR, HKU or HKCC)");
  }
  if (parsed.error != ParsedRegCommand::Error::kNone) {
    return UsageError(app, remaining.empty() ? "reg needs an operation" : "reg takes no such line", kForms);
  }
  switch (parsed.command.kind) {
    case RegCommand::Kind::kGet: return Get(parsed.command);
    case RegCommand::Kind::kSet: return Set(parsed.command);
    case RegCommand::Kind::kList: return List(parsed.command);
    case RegCommand::Kind::kDelete: return Delete(parsed.command);
  }
  return UsageError(app, "reg takes no such line", kForms);
}

}  // namespace

Subcommand AddReg(CLI::App& dovel) {
  CLI::App* app = dovel.add_subcommand("reg", "Reads and changes the server's settings");
  // The rest of the line is taken as typed, so any name or value can be
  // written; reg_command.h parses it.
  app->prefix_command();
  app->footer(std::string("Reads and changes the server's settings in the registry (on POSIX the store\n"
                          "named by $DOVEL_REGISTRY, else /var/lib/dovel/registry.db). Key and value\n"
                          "names ignore case; text is stored as the server reads it.") +
              "\n\n" + kForms);
  return TakingItsOwnLine(app, Run);
}

}  // namespace dovel::tools
