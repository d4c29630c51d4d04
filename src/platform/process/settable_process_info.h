#pragma once

#include <mutex>
#include <string>

#include "platform/process/process_info.h"

namespace dovel::platform {

// Process facts that tests choose.
class SettableProcessInfo final : public ProcessInfo {
 public:
  SettableProcessInfo(std::string name, FileVersionNumbers version) : name_(std::move(name)), version_(version) {}

  std::string ExecutableName() override;
  FileVersionNumbers FileVersion() override;

  void SetExecutableName(std::string name);
  void SetFileVersion(FileVersionNumbers version);

 private:
  std::mutex mutex_;
  std::string name_;
  FileVersionNumbers version_;
};

}  // namespace dovel::platform
