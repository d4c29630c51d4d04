#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace dovel::testing {

// A new directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable for the lifetime of the object and puts the
// previous value (or its absence) back afterwards. On Windows the C runtime
// takes an empty value as removing the variable.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Points the settings store and the error log of this process at a private
// temporary directory, so tests never touch the machine's own.
class ScopedServerEnvironment {
 public:
  ScopedServerEnvironment();
  const std::filesystem::path& root() const { return dir_.path(); }
  std::filesystem::path registry() const { return dir_.path() / "registry.db"; }

 private:
  ScopedTempDir dir_;
  ScopedEnv registry_;
  ScopedEnv log_;
};

}  // namespace dovel::testing
