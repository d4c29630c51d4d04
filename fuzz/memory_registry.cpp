#include "memory_registry.h"

#include <cstring>

#include "fuzz_check.h"
#include "platform/core/error_codes.h"

namespace dovel::fuzz {
namespace {

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
  return key == platform::kHkeyClassesRoot || key == platform::kHkeyCurrentUser || key == platform::kHkeyLocalMachine ||
         key == platform::kHkeyUsers || key == platform::kHkeyCurrentConfig;
}

}  // namespace

std::error_code MemoryRegistry::Resolve(platform::RegistryKey root, std::string_view sub_key, std::string& path) const {
  if (IsRoot(root)) {
    path = std::to_string(root);
  } else if (const auto open = open_.find(root); open != open_.end()) {
    path = open->second;
  } else {
    return SystemError::kInvalidHandle;
  }
  const std::string lower = Lower(sub_key);
  if (lower.empty()) return {};
  if (lower.front() == '\\' || lower.back() == '\\' || lower.find("\\\\") != std::string::npos) {
    return SystemError::kBadPathname;
  }
  path += '\\' + lower;
  return {};
}

MemoryRegistry::Key* MemoryRegistry::Find(platform::RegistryKey key) {
  std::string path;
  if (Resolve(key, {}, path)) return nullptr;
  const auto found = keys_.find(path);
  return found == keys_.end() ? nullptr : &found->second;
}

platform::RegistryKey MemoryRegistry::Hand(const std::string& path) {
  const platform::RegistryKey key = next_handle_++;
  open_[key] = path;
  return key;
}

std::error_code MemoryRegistry::OpenKey(platform::RegistryKey root, std::string_view sub_key,
                                        platform::RegistryKey& key) {
  key = 0;
  std::string path;
  if (const std::error_code status = Resolve(root, sub_key, path)) return status;
  if (!IsRoot(root) || path != std::to_string(root)) {
    if (keys_.count(path) == 0) return SystemError::kFileNotFound;
  }
  key = Hand(path);
  return {};
}

std::error_code MemoryRegistry::CreateKey(platform::RegistryKey root, std::string_view sub_key,
                                          platform::RegistryKey& key) {
  key = 0;
  if (fail_writes_) return fail_writes_;
  std::string path;
  if (const std::error_code status = Resolve(root, sub_key, path)) return status;
  // Every key on the way exists too.
  for (std::size_t slash = path.find('\\'); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
    keys_[path.substr(0, slash)];
  }
  keys_[path];
  key = Hand(path);
  return {};
}

std::error_code MemoryRegistry::QueryValue(platform::RegistryKey key, std::string_view value_name, std::uint32_t* type,
                                           std::uint8_t* data, std::uint32_t* size) {
  if (data != nullptr && size == nullptr) return SystemError::kInvalidParameter;
  Key* found = Find(key);
  if (found == nullptr) return SystemError::kInvalidHandle;
  const auto value = found->values.find(Lower(value_name));
  if (value == found->values.end()) return SystemError::kFileNotFound;
  if (type != nullptr) *type = value->second.type;
  const auto needed = static_cast<std::uint32_t>(value->second.bytes.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return SystemError::kMoreData;
  }
  if (data != nullptr) std::memcpy(data, value->second.bytes.data(), needed);
  if (size != nullptr) *size = needed;
  return {};
}

std::error_code MemoryRegistry::SetValue(platform::RegistryKey key, std::string_view value_name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) {
  if (data == nullptr && size != 0) return SystemError::kInvalidParameter;
  if (fail_writes_) return fail_writes_;
  Key* found = Find(key);
  if (found == nullptr) return SystemError::kInvalidHandle;
  const std::string name = Lower(value_name);
  found->values[name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
  found->order.emplace(name, found->writes++);
  return {};
}

std::error_code MemoryRegistry::DeleteValue(platform::RegistryKey key, std::string_view value_name) {
  Key* found = Find(key);
  if (found == nullptr) return SystemError::kInvalidHandle;
  const std::string name = Lower(value_name);
  if (found->values.erase(name) == 0) return SystemError::kFileNotFound;
  found->order.erase(name);
  return {};
}

std::error_code MemoryRegistry::EnumKey(platform::RegistryKey key, std::uint32_t index, std::string& name) {
  std::string path;
  if (Resolve(key, {}, path)) return SystemError::kInvalidHandle;
  const std::string prefix = path + '\\';
  std::uint32_t seen = 0;
  for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix); ++it) {
    if (it->first.find('\\', prefix.size()) != std::string::npos) continue;  // a grandchild
    if (seen++ == index) {
      name = it->first.substr(prefix.size());
      return {};
    }
  }
  return SystemError::kNoMoreItems;
}

std::error_code MemoryRegistry::EnumValue(platform::RegistryKey key, std::uint32_t index, std::string& name,
                                          std::uint32_t& type) {
  Key* found = Find(key);
  if (found == nullptr) return SystemError::kInvalidHandle;
  // In the order the values were first written.
  for (const auto& [value_name, written] : found->order) {
    std::uint32_t earlier = 0;
    for (const auto& [other, other_written] : found->order) earlier += other_written < written ? 1 : 0;
    if (earlier == index) {
      name = value_name;
      type = found->values[value_name].type;
      return {};
    }
  }
  return SystemError::kNoMoreItems;
}

std::error_code MemoryRegistry::CloseKey(platform::RegistryKey key) {
  if (IsRoot(key)) return {};
  if (open_.erase(key) == 1) return {};
  if (key != 0) ++bad_closes_;
  return SystemError::kInvalidHandle;
}

void MemoryRegistry::Put(std::string_view key_path, std::string_view name, std::uint32_t type, std::string bytes) {
  // Values are put in place before any write is made to fail: a failure
  // here is a broken harness, not a finding about the code under test.
  platform::OwnedKey key;
  DOVEL_FUZZ_CHECK(!key.Create(*this, platform::kHkeyLocalMachine, key_path));
  DOVEL_FUZZ_CHECK(!SetValue(key.get(), name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                             static_cast<std::uint32_t>(bytes.size())));
}

}  // namespace dovel::fuzz
