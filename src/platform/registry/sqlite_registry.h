#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/registry/registry.h"

namespace dovel::platform {

// Where the POSIX registry store lives: $DOVEL_REGISTRY when set and not
// empty, else /var/lib/dovel/registry.db. Read anew on every call.
std::string RegistryStorePath();

// The registry on systems without one: an SQLite file holding the keys as a
// tree under named roots and each value as (name, type code, raw bytes).
//
// The file is the one `database_path` names when a key is opened below a
// predefined root; keys opened below an open key stay in their parent's
// file. Reading never creates the file, its directory or a key: a missing
// file reads as "no such key". Writing creates the directory (0755) and the
// file on first use. The store runs in WAL mode with its -wal and -shm files
// kept beside it, so that users who may only read it can still read it.
// Every write is one immediate transaction that waits at most
// `busy_timeout_ms` for other writers, so processes starting together block
// each other only briefly and lose nothing.
//
// A file that is corrupt, unreadable or not a registry store is never
// changed: reads treat it as absent (callers fall back to their defaults),
// writes fail with kRegistryCorrupt, and one line naming the file goes to stderr, once
// per file and process, because at this level there is no error log yet.
//
// Handles live in a table of this object; each call opens its own
// connection, so a forked child may go on using the handles it inherited.
class SqliteRegistry final : public Registry {
 public:
  struct Options {
    std::function<std::string()> database_path = RegistryStorePath;
    int busy_timeout_ms = 2000;
  };

  SqliteRegistry();
  explicit SqliteRegistry(Options options);
  ~SqliteRegistry() override;
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  [[nodiscard]] std::error_code OpenKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) override;
  [[nodiscard]] std::error_code CreateKey(RegistryKey root, std::string_view sub_key, RegistryKey& key) override;
  [[nodiscard]] std::error_code QueryValue(RegistryKey key, std::string_view value_name, std::uint32_t* type,
                                           std::uint8_t* data, std::uint32_t* size) override;
  [[nodiscard]] std::error_code SetValue(RegistryKey key, std::string_view value_name, std::uint32_t type,
                                         const std::uint8_t* data, std::uint32_t size) override;
  [[nodiscard]] std::error_code DeleteValue(RegistryKey key, std::string_view value_name) override;
  [[nodiscard]] std::error_code EnumKey(RegistryKey key, std::uint32_t index, std::string& name) override;
  [[nodiscard]] std::error_code EnumValue(RegistryKey key, std::uint32_t index, std::string& name,
                                          std::uint32_t& type) override;
  [[nodiscard]] std::error_code CloseKey(RegistryKey key) override;

  // How many handles are open right now (roots not counted).
  std::size_t OpenHandleCount() const;

  // At most this many handles are open at once; one more gives
  // kNoSystemResources.
  static constexpr std::size_t kMaxOpenHandles = 4096;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// SQLite's full integrity check of a store file, for the administrator and
// for tests. Success when the file is a sound registry store, kFileNotFound
// when it does not exist, kRegistryCorrupt otherwise; `detail` says what was
// found.
[[nodiscard]] std::error_code CheckRegistryStore(const std::string& path, std::string& detail);

}  // namespace dovel::platform
