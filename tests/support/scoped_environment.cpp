#include "support/scoped_environment.h"

#include <stdlib.h>

#include <stdexcept>

namespace dovel::testing {

ScopedTempDir::ScopedTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dovel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* previous = getenv(name_.c_str())) previous_ = previous;
  setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedServerEnvironment::ScopedServerEnvironment()
    : registry_("DOVEL_REGISTRY", (dir_.path() / "registry.db").string()),
      log_("DOVEL_LOG_DIR", (dir_.path() / "log").string()) {}

}  // namespace dovel::testing
