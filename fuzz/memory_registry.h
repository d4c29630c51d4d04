#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/registry/registry.h"

namespace dovel::fuzz {

// The registry kept in process memory, so a harness runs thousands of
// settings start-ups a second and leaves no store behind. Values and keys as
// the contract describes them; what a harness needs on top: writes that
// fail on demand, and a count of handles still open or wrongly closed.
class MemoryRegistry final : public platform::Registry {
 public:
  [[nodiscard]] std::error_code OpenKey(platform::RegistryKey root, std::string_view sub_key,
                                        platform::RegistryKey& key) override;
  [[nodiscard]] std::error_code CreateKey(platform::RegistryKey root, std::string_view sub_key,
                                          platform::RegistryKey& key) override;
  [[nodiscard]] std::error_code QueryValue(platform::RegistryKey key, std::string_view value_name, std::uint32_t* type,
                                           std::uint8_t* data, std::uint32_t* size) override;
  [[nodiscard]] std::error_code SetValue(platform::RegistryKey key, std::string_view value_name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) override;
  [[nodiscard]] std::error_code DeleteValue(platform::RegistryKey key, std::string_view value_name) override;
  [[nodiscard]] std::error_code EnumKey(platform::RegistryKey key, std::uint32_t index, std::string& name) override;
  [[nodiscard]] std::error_code EnumValue(platform::RegistryKey key, std::uint32_t index, std::string& name,
                                          std::uint32_t& type) override;
  [[nodiscard]] std::error_code CloseKey(platform::RegistryKey key) override;

  // A value in place before the code under test runs (HKEY_LOCAL_MACHINE).
  void Put(std::string_view key_path, std::string_view name, std::uint32_t type, std::string bytes);
  // Every later CreateKey and SetValue fails with `status` (success: none do).
  void FailWrites(std::error_code status) { fail_writes_ = status; }

  std::size_t open_keys() const { return open_.size(); }
  // Closes of a nonzero handle that was not open: must stay 0.
  int bad_closes() const { return bad_closes_; }

 private:
  struct Value {
    std::uint32_t type = 0;
    std::string bytes;
  };
  struct Key {
    std::map<std::string, Value> values;         // by lower-case name
    std::map<std::string, std::uint32_t> order;  // lower-case name -> first write
    std::uint32_t writes = 0;
  };

  // The full lower-case path of `sub_key` below `root`, or the status.
  std::error_code Resolve(platform::RegistryKey root, std::string_view sub_key, std::string& path) const;
  Key* Find(platform::RegistryKey key);
  platform::RegistryKey Hand(const std::string& path);

  std::map<std::string, Key> keys_;  // by full lower-case path
  std::map<platform::RegistryKey, std::string> open_;
  platform::RegistryKey next_handle_ = 1;
  std::error_code fail_writes_;
  int bad_closes_ = 0;
};

}  // namespace dovel::fuzz
