#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "platform/process/process_info.h"

namespace dovel::platform {
namespace {

class PosixProcessInfo final : public ProcessInfo {
 public:
  std::string ExecutableName() override {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof path) {
      std::string_view target(path, static_cast<std::size_t>(length));
      // A binary replaced while running (an upgrade) still has its name.
      constexpr std::string_view kDeleted = " (deleted)";
      if (target.ends_with(kDeleted)) target.remove_suffix(kDeleted.size());
      std::string name = ProgramNameFromPath(target);
      if (!name.empty()) return name;
    }
    return ProgramNameFromPath(program_invocation_short_name);
  }

  FileVersionNumbers FileVersion() override { return BuiltFileVersion(); }
};

}  // namespace

template <>
ProcessInfo& SystemDefault<ProcessInfo>() {
  static PosixProcessInfo info;
  return info;
}

// Nothing here stops a process to wait for someone to click.
void SuppressErrorDialogs() {}

}  // namespace dovel::platform
