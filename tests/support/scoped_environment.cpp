#include "support/scoped_environment.h"

#include <stdlib.h>

#include <random>
#include <stdexcept>
#include <system_error>

namespace dovel::testing {
namespace {

void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

void RemoveVariable(const std::string& name) {
#ifdef _WIN32
  _putenv_s(name.c_str(), "");  // an empty value removes it there
#else
  unsetenv(name.c_str());
#endif
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
#ifdef _WIN32
  // create_directory fails on a name that exists, so a directory it makes
  // is ours alone, as with mkdtemp.
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate = base / ("dovel-test-" + std::to_string(random() % 1000000000));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = std::move(candidate);
      return;
    }
  }
  throw std::runtime_error("no temporary directory");
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "dovel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* previous = getenv(name_.c_str())) previous_ = previous;
  SetVariable(name_, value);
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    SetVariable(name_, *previous_);
  } else {
    RemoveVariable(name_);
  }
}

ScopedServerEnvironment::ScopedServerEnvironment()
    : registry_("DOVEL_REGISTRY", (dir_.path() / "registry.db").string()),
      log_("DOVEL_LOG_DIR", (dir_.path() / "log").string()) {}

}  // namespace dovel::testing
