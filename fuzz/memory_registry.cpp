#include "memory_registry.h"

#include <cstring>

#include "platform/core/system_error.h"

namespace dovel::fuzz {
namespace {

namespace win32_error = platform::win32_error;
namespace registry_error = platform::registry_error;

std::string Lower(std::string_view text) {
  std::string lower(text.substr(0, text.find('\0')));
  for (char& c : lower) {
    const auto byte = static_cast<unsigned char>(c);
    // ASCII and Latin-1 letters, as the store compares them.
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) {
      c = static_cast<char>(byte + 0x20);
    }
  }
  return lower;
}

bool IsRoot(platform::RegistryKey key) {
  return key == platform::kHkeyClassesRoot || key == platform::kHkeyCurrentUser ||
         key == platform::kHkeyLocalMachine || key == platform::kHkeyUsers || key == platform::kHkeyCurrentConfig;
}

}  // namespace

std::int32_t MemoryRegistry::Resolve(platform::RegistryKey root, std::string_view sub_key, std::string& path) const {
  if (IsRoot(root)) {
    path = std::to_string(root);
  } else if (const auto open = open_.find(root); open != open_.end()) {
    path = open->second;
  } else {
    return win32_error::kInvalidHandle;
  }
  const std::string lower = Lower(sub_key);
  if (lower.empty()) return 0;
  if (lower.front() == '\\' || lower.back() == '\\' || lower.find("\\\\") != std::string::npos) {
    return registry_error::kBadPathname;
  }
  path += '\\' + lower;
  return 0;
}

MemoryRegistry::Key* MemoryRegistry::Find(platform::RegistryKey key) {
  std::string path;
  if (Resolve(key, {}, path) != 0) return nullptr;
  const auto found = keys_.find(path);
  return found == keys_.end() ? nullptr : &found->second;
}

platform::RegistryKey MemoryRegistry::Hand(const std::string& path) {
  const platform::RegistryKey key = next_handle_++;
  open_[key] = path;
  return key;
}

std::int32_t MemoryRegistry::OpenKey(platform::RegistryKey root, std::string_view sub_key,
                                     platform::RegistryKey& key) {
  key = 0;
  std::string path;
  if (const std::int32_t status = Resolve(root, sub_key, path); status != 0) return status;
  if (!IsRoot(root) || path != std::to_string(root)) {
    if (keys_.count(path) == 0) return win32_error::kFileNotFound;
  }
  key = Hand(path);
  return 0;
}

std::int32_t MemoryRegistry::CreateKey(platform::RegistryKey root, std::string_view sub_key,
                                       platform::RegistryKey& key) {
  key = 0;
  if (fail_writes_ != 0) return fail_writes_;
  std::string path;
  if (const std::int32_t status = Resolve(root, sub_key, path); status != 0) return status;
  // Every key on the way exists too.
  for (std::size_t slash = path.find('\\'); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
    keys_[path.substr(0, slash)];
  }
  keys_[path];
  key = Hand(path);
  return 0;
}

std::int32_t MemoryRegistry::QueryValue(platform::RegistryKey key, std::string_view value_name,
                                        std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  if (data != nullptr && size == nullptr) return win32_error::kInvalidParameter;
  Key* found = Find(key);
  if (found == nullptr) return win32_error::kInvalidHandle;
  const auto value = found->values.find(Lower(value_name));
  if (value == found->values.end()) return win32_error::kFileNotFound;
  if (type != nullptr) *type = value->second.type;
  const auto needed = static_cast<std::uint32_t>(value->second.bytes.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return registry_error::kMoreData;
  }
  if (data != nullptr) std::memcpy(data, value->second.bytes.data(), needed);
  if (size != nullptr) *size = needed;
  return 0;
}

std::int32_t MemoryRegistry::SetValue(platform::RegistryKey key, std::string_view value_name, std::uint32_t type,
                                      const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr && size != 0) return win32_error::kInvalidParameter;
  if (fail_writes_ != 0) return fail_writes_;
  Key* found = Find(key);
  if (found == nullptr) return win32_error::kInvalidHandle;
  const std::string name = Lower(value_name);
  found->values[name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
  found->order.emplace(name, found->writes++);
  return 0;
}

std::int32_t MemoryRegistry::DeleteValue(platform::RegistryKey key, std::string_view value_name) {
  Key* found = Find(key);
  if (found == nullptr) return win32_error::kInvalidHandle;
  const std::string name = Lower(value_name);
  if (found->values.erase(name) == 0) return win32_error::kFileNotFound;
  found->order.erase(name);
  return 0;
}

std::int32_t MemoryRegistry::EnumKey(platform::RegistryKey key, std::uint32_t index, std::string& name) {
  std::string path;
  if (Resolve(key, {}, path) != 0) return win32_error::kInvalidHandle;
  const std::string prefix = path + '\\';
  std::uint32_t seen = 0;
  for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix); ++it) {
    if (it->first.find('\\', prefix.size()) != std::string::npos) continue;  // a grandchild
    if (seen++ == index) {
      name = it->first.substr(prefix.size());
      return 0;
    }
  }
  return registry_error::kNoMoreItems;
}

std::int32_t MemoryRegistry::EnumValue(platform::RegistryKey key, std::uint32_t index, std::string& name,
                                       std::uint32_t& type) {
  Key* found = Find(key);
  if (found == nullptr) return win32_error::kInvalidHandle;
  // In the order the values were first written.
  for (const auto& [value_name, written] : found->order) {
    std::uint32_t earlier = 0;
    for (const auto& [other, other_written] : found->order) earlier += other_written < written ? 1 : 0;
    if (earlier == index) {
      name = value_name;
      type = found->values[value_name].type;
      return 0;
    }
  }
  return registry_error::kNoMoreItems;
}

std::int32_t MemoryRegistry::CloseKey(platform::RegistryKey key) {
  if (IsRoot(key)) return 0;
  if (open_.erase(key) == 1) return 0;
  if (key != 0) ++bad_closes_;
  return win32_error::kInvalidHandle;
}

void MemoryRegistry::Put(std::string_view key_path, std::string_view name, std::uint32_t type, std::string bytes) {
  platform::RegistryKey key = 0;
  if (CreateKey(platform::kHkeyLocalMachine, key_path, key) != 0) return;
  SetValue(key, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
           static_cast<std::uint32_t>(bytes.size()));
  CloseKey(key);
}

}  // namespace dovel::fuzz
