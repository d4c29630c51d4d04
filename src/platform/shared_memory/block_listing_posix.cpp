// Listing this user's blocks, for the administrator's `dovel blocks`.
//
// A block is live while some descriptor holds LOCK_SH on it (see
// block_lifetime_posix.cpp). The only way to ask is to try LOCK_EX, and by
// rule R1 of that protocol LOCK_EX is tried only under the gate, so the
// listing takes the gate exactly as the sweep does. It never unlinks and
// keeps nothing after the look: closing its descriptor drops the gate and
// any LOCK_EX together, so a stale block stays for the next opener or the
// sweep, and a live one lives exactly as long as its holders.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shared_memory/block_descriptor_posix.h"
#include "platform/shared_memory/block_name_posix.h"
#include "platform/shared_memory/gate_turn_posix.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::platform {
namespace {

using posix_block::GateTurn;
using posix_block::UniqueFd;

struct CloseDirectory {
  // Fails only for a stream that is not open.
  void operator()(DIR* directory) const { static_cast<void>(closedir(directory)); }
};

[[nodiscard]] bool TryGate(int fd) {
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;  // the gate byte
  range.l_len = 1;
  while (fcntl(fd, F_OFD_SETLK, &range) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// False for an object that is no block of this user: a squatter's, or
// anything but a regular object.
[[nodiscard]] bool OwnBlock(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid();
}

enum class Look { kLive, kStale, kNotOurs };

Look LookAt(const std::string& object) {
  UniqueFd fd = posix_block::OpenDescriptor(object, O_RDWR, 0);
  // Gone since the directory was read, or not ours to open.
  if (!fd || !OwnBlock(fd.get())) return Look::kNotOurs;
  // A gate that another thread or process has taken means someone is
  // opening or closing the block right now: it is in use.
  const GateTurn turn(object, /*wait=*/false);
  if (!turn.taken() || !TryGate(fd.get())) return Look::kLive;
  int refused = 0;
  while ((refused = flock(fd.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  const bool unheld = refused == 0;
  fd.reset();  // drops LOCK_EX and the gate before the turn is left
  return unheld ? Look::kStale : Look::kLive;
}

}  // namespace

std::vector<ListedBlock> ListBlocks() {
  // Without its fork handlers this process's descriptors could outlive a
  // fork in a child; SweepStaleBlocks declines for the same reason.
  if (posix_block::PrepareDescriptorsForFork() || posix_block::PrepareGateTurnsForFork()) return {};
  const std::string prefix = posix_block::UserPrefix(geteuid());
  std::vector<std::string> names;
  if (const std::unique_ptr<DIR, CloseDirectory> directory{opendir(posix_block::kShmDirectory)}) {
    while (const dirent* entry = readdir(directory.get())) {
      const std::string_view name(entry->d_name);
      if (name.starts_with(prefix) && name.size() > prefix.size()) names.emplace_back(name.substr(prefix.size()));
    }
  }
  std::sort(names.begin(), names.end());
  std::vector<ListedBlock> blocks;
  for (std::string& name : names) {
    const Look look = LookAt(posix_block::ObjectName(name, geteuid()));
    if (look != Look::kNotOurs) blocks.push_back({std::move(name), look == Look::kLive});
  }
  return blocks;
}

}  // namespace dovel::platform
