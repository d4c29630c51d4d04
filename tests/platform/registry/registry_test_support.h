#pragma once

// Helpers for tests that touch the registry store: a store file of the
// test's own, children (optionally unprivileged) and raw file access.

#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/registry/registry.h"

namespace dovel::testing {

// No test may reach the machine's store: a test that forgets TempRegistry
// reads defaults and cannot write (a path below a file).
inline const bool kMachineStoreFenced = [] {
  setenv("DOVEL_REGISTRY", "/proc/version/dovel-tests-use-TempRegistry", 1);
  return true;
}();

// A fresh directory under /tmp and a store path inside it, named in
// DOVEL_REGISTRY while the guard lives; the directory and all in it go away
// with the guard.
class TempRegistry {
 public:
  TempRegistry() {
    char pattern[] = "/tmp/dovel-registry-XXXXXX";
    const char* made = mkdtemp(pattern);
    directory_ = made != nullptr ? made : "";
    path_ = directory_ + "/store/registry.db";
    if (const char* old = std::getenv("DOVEL_REGISTRY")) previous_ = old;
    setenv("DOVEL_REGISTRY", path_.c_str(), 1);
  }
  ~TempRegistry() {
    if (previous_) {
      setenv("DOVEL_REGISTRY", previous_->c_str(), 1);
    } else {
      unsetenv("DOVEL_REGISTRY");
    }
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
  }
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  const std::string& directory() const { return directory_; }
  const std::string& path() const { return path_; }
  bool ok() const { return !directory_.empty(); }

  // Points DOVEL_REGISTRY elsewhere (restored by the destructor).
  void Use(const std::string& path) const { setenv("DOVEL_REGISTRY", path.c_str(), 1); }

 private:
  std::string directory_;
  std::string path_;
  std::optional<std::string> previous_;
};

// Runs `body` in a forked child and returns its exit status (or 128 + the
// signal that ended it). With `unprivileged` the child first becomes the
// user and group "nobody", so file permissions apply to it.
inline int RunInChild(const std::function<int()>& body, bool unprivileged = false) {
  const pid_t child = fork();
  if (child == 0) {
    if (unprivileged && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(120);
    _exit(body());
  }
  if (child < 0) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Forks `count` children that all start `body(index)` at the same moment
// (the parent closing a pipe is the starting signal) and returns their exit
// statuses, in the order the children were made; a child that could not be
// made counts as -1.
inline std::vector<int> RunTogether(int count, const std::function<int(int)>& body) {
  int start[2];
  if (pipe(start) != 0) return std::vector<int>(static_cast<std::size_t>(count), -1);
  std::vector<pid_t> children;
  for (int index = 0; index < count; ++index) {
    const pid_t child = fork();
    if (child == 0) {
      close(start[1]);
      char go = 0;
      if (read(start[0], &go, 1) < 0) _exit(100);
      _exit(body(index));
    }
    children.push_back(child);
  }
  close(start[0]);
  close(start[1]);
  std::vector<int> statuses;
  for (const pid_t child : children) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
      statuses.push_back(-1);
    } else {
      statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
  }
  return statuses;
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Garbage(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 0x2545F491u;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

// A value as stored: its type and bytes. Status as the registry returned it.
struct StoredValue {
  std::error_code status = SystemError::kInvalidFunction;  // until read
  std::uint32_t type = 0;
  std::string bytes;
};

inline StoredValue ReadStored(platform::Registry& registry, platform::RegistryKey root, std::string_view key_path,
                              std::string_view name) {
  StoredValue value;
  platform::OwnedKey key;
  value.status = key.Open(registry, root, key_path);
  if (value.status) return value;
  std::uint32_t size = 0;
  value.status = registry.QueryValue(key.get(), name, &value.type, nullptr, &size);
  if (!value.status) {
    value.bytes.assign(size, '\0');
    value.status =
        registry.QueryValue(key.get(), name, &value.type, reinterpret_cast<std::uint8_t*>(value.bytes.data()), &size);
  }
  return value;
}

// The first failure of creating the key, writing the value and closing the
// key again; success when all three succeeded.
inline std::error_code WriteStored(platform::Registry& registry, platform::RegistryKey root, std::string_view key_path,
                                   std::string_view name, std::uint32_t type, std::string_view bytes) {
  platform::OwnedKey key;
  if (const std::error_code created = key.Create(registry, root, key_path)) return created;
  if (const std::error_code set = registry.SetValue(key.get(), name, type,
                                                    reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                    static_cast<std::uint32_t>(bytes.size()))) {
    return set;
  }
  return key.Close();
}

}  // namespace dovel::testing
