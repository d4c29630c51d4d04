#include "platform/process/settable_process_info.h"

namespace dovel::platform {

std::string SettableProcessInfo::ExecutableName() {
  std::lock_guard lock(mutex_);
  return name_;
}

FileVersionNumbers SettableProcessInfo::FileVersion() {
  std::lock_guard lock(mutex_);
  return version_;
}

void SettableProcessInfo::SetExecutableName(std::string name) {
  std::lock_guard lock(mutex_);
  name_ = std::move(name);
}

void SettableProcessInfo::SetFileVersion(FileVersionNumbers version) {
  std::lock_guard lock(mutex_);
  version_ = version;
}

}  // namespace dovel::platform
