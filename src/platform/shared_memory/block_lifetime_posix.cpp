// Block lifetime on POSIX shared memory.
//
// A shm_open object lives until someone unlinks it, whoever still has it
// open. Windows destroys a named mapping with its last handle instead, so
// that rule is built here from two locks on every object:
//
//   hold  flock(LOCK_SH), kept by each descriptor that backs a handle. flock
//         belongs to the open file description, so every handle counts on its
//         own (two in one process too), and the kernel drops it when its
//         process dies, however it dies.
//   gate  an OFD write lock on byte 0 (independent of flock). Every decision
//         "nobody holds this block, remove it" is taken under the gate.
//
// Rules that make the protocol sound:
//   R1  LOCK_EX is only tried (LOCK_NB) while holding the gate, and is dropped
//       together with the gate by close(). So whoever holds the gate knows
//       nobody else holds LOCK_EX.
//   R2  A name is unlinked only by someone holding LOCK_EX on the object and
//       after fstat shows it still linked. At most one object per name is
//       linked, so the name still refers to exactly that object.
//   R3  A handle is handed out only once LOCK_SH is held and fstat shows the
//       object linked. LOCK_SH excludes LOCK_EX, so by R2 the object stays
//       under its name for the life of the handle: a name never has two live
//       blocks, and a create cannot succeed while any handle is open.
//
// Open: shm_open, refuse an object of another user (before any lock, so a
// squatter holding the gate cannot stall us), take the gate, try LOCK_EX.
//   - Granted: nobody holds the block; its last holder ended without closing.
//     It is stale: unlink it and start over (Open then reports 2, a create
//     makes a new zeroed block).
//   - Refused: by R1 some descriptor held LOCK_SH at that instant, i.e. the
//     block was alive during our call. Take LOCK_SH (cannot wait, by R1),
//     re-check st_nlink (the holder may be a creator whose new object was
//     removed before it could lock it: start over), grow it to kBlockSize if
//     its creator has not sized it yet, drop the gate.
// Create: shm_open O_EXCL (the atomic "who is first"), LOCK_SH, re-check
// st_nlink: until LOCK_SH the new object is unheld and an opener or the sweep
// may remove it as stale, so the creator starts over. Sizing uses
// posix_fallocate, so a full /dev/shm fails here with ENOSPC rather than as
// SIGBUS on the first touch.
// Close: take the gate, try LOCK_EX, unlink if granted, close().
// Sweep: the opener's stale check, for every object with this user's prefix.
//
// Why the close takes the gate too:
//   - Without it, an opener's refused LOCK_EX might mean "a closer holds
//     LOCK_EX" rather than "someone holds the block". The opener then waits in
//     LOCK_SH; if the closer is killed before unlinking, the opener receives a
//     block whose holders are all gone. With the gate, a killed closer simply
//     leaves a stale block that the next opener removes.
//   - Concurrent last closes are decided one at a time, so the later one
//     always sees the earlier one's hold gone and removes the block.
// A failed LOCK_EX upgrade drops our LOCK_SH on Linux; the closer is leaving
// anyway and the opener never held one, so neither depends on it.
//
// Descriptors are close-on-exec, and a forked child drops the table's ones
// (shared_memory_posix.cpp): lock calls on a descriptor shared with a child
// would act on the parent's locks.

#include "platform/shared_memory/block_lifetime_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/shared_memory/block_name_posix.h"
#include "platform/shared_memory/errno_win32.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::platform::posix_block {
namespace {

constexpr mode_t kOwnerOnly = 0600;

enum class Step { kHeld, kGone, kAgain, kFailed };

struct Attempt {
  Step step;
  int fd = -1;
  std::int32_t status = 0;
};

Attempt Failed(int fd, std::int32_t status) {
  if (fd >= 0) close(fd);
  return {Step::kFailed, -1, status};
}

Attempt Again(int fd) {
  close(fd);
  return {Step::kAgain};
}

bool Gate(int fd, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  const int command = type == F_UNLCK ? F_OFD_SETLK : F_OFD_SETLKW;
  while (fcntl(fd, command, &range) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool Hold(int fd) {
  while (flock(fd, LOCK_SH) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Another user's object under our name must never become our block.
std::int32_t CheckOwner(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return Win32FromErrno(errno);
  if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) return win32_error::kAccessDenied;
  return win32_error::kSuccess;
}

enum class Unheld { kNo, kAlreadyGone, kRemoved };

// Caller holds the gate (R1, R2).
Unheld RemoveIfUnheld(int fd, const std::string& object) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return Unheld::kNo;
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_nlink == 0) return Unheld::kAlreadyGone;
  return shm_unlink(object.c_str()) == 0 ? Unheld::kRemoved : Unheld::kAlreadyGone;
}

Attempt OpenOnce(const std::string& object) {
  const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    return errno == ENOENT ? Attempt{Step::kGone} : Failed(-1, Win32FromErrno(errno));
  }
  if (const std::int32_t status = CheckOwner(fd); status != 0) return Failed(fd, status);
  if (!Gate(fd, F_WRLCK)) return Failed(fd, Win32FromErrno(errno));
  if (RemoveIfUnheld(fd, object) != Unheld::kNo) return Again(fd);
  if (!Hold(fd)) return Failed(fd, Win32FromErrno(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0) return Failed(fd, Win32FromErrno(errno));
  if (info.st_nlink == 0) return Again(fd);
  if (info.st_size < static_cast<off_t>(kBlockSize)) {
    // Its creator holds it but has not sized it yet.
    if (const int error = posix_fallocate(fd, 0, kBlockSize); error != 0) {
      RemoveIfUnheld(fd, object);
      return Failed(fd, Win32FromErrno(error));
    }
  }
  Gate(fd, F_UNLCK);
  return {Step::kHeld, fd};
}

// Gives up a block we made but cannot hand out, so it is not left behind.
Attempt Abandon(int fd, const std::string& object, int error) {
  ReleaseBlock(fd, object);
  return {Step::kFailed, -1, Win32FromErrno(error)};
}

// `fd` was just created with O_EXCL.
Attempt FinishCreate(int fd, const std::string& object, off_t length) {
  if (!Hold(fd)) return Abandon(fd, object, errno);
  struct stat info {};
  if (fstat(fd, &info) != 0) return Abandon(fd, object, errno);
  if (info.st_nlink == 0) return Again(fd);  // taken for stale before our hold
  // The umask may have narrowed the mode; other processes of ours open it
  // read/write.
  if ((info.st_mode & 07777) != kOwnerOnly) fchmod(fd, kOwnerOnly);
  if (const int error = posix_fallocate(fd, 0, length); error != 0) return Abandon(fd, object, error);
  return {Step::kHeld, fd};
}

}  // namespace

Acquired CreateOrOpenBlock(const std::string& object, std::uint32_t size) {
  const off_t length = std::max<off_t>(size, kBlockSize);
  for (;;) {
    Attempt attempt{Step::kGone};
    std::int32_t success = win32_error::kSuccess;
    const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kOwnerOnly);
    if (fd >= 0) {
      attempt = FinishCreate(fd, object, length);
    } else if (errno == EEXIST) {
      attempt = OpenOnce(object);
      success = win32_error::kAlreadyExists;
    } else {
      return {-1, Win32FromErrno(errno)};
    }
    if (attempt.step == Step::kHeld) return {attempt.fd, success};
    if (attempt.step == Step::kFailed) return {-1, attempt.status};
  }
}

Acquired OpenBlock(const std::string& object) {
  for (;;) {
    const Attempt attempt = OpenOnce(object);
    switch (attempt.step) {
      case Step::kHeld: return {attempt.fd, win32_error::kSuccess};
      case Step::kGone: return {-1, win32_error::kFileNotFound};
      case Step::kFailed: return {-1, attempt.status};
      case Step::kAgain: break;
    }
  }
}

void ReleaseBlock(int fd, const std::string& object) {
  // Without the gate the block cannot be removed safely; it is then left
  // stale for the next opener or the sweep.
  if (Gate(fd, F_WRLCK)) RemoveIfUnheld(fd, object);
  close(fd);
}

int SweepStale() {
  const std::string prefix = UserPrefix(geteuid());
  std::vector<std::string> objects;
  if (DIR* directory = opendir(kShmDirectory)) {
    while (const dirent* entry = readdir(directory)) {
      const std::string_view name(entry->d_name);
      if (name.starts_with(prefix)) objects.push_back("/" + std::string(name));
    }
    closedir(directory);
  }
  int removed = 0;
  for (const std::string& object : objects) {
    const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) continue;
    if (CheckOwner(fd) == 0 && Gate(fd, F_WRLCK) && RemoveIfUnheld(fd, object) == Unheld::kRemoved) {
      ++removed;
    }
    close(fd);
  }
  return removed;
}

namespace {

// One attempt at the content lock (byte 1) without waiting.
bool TryContentLock(int fd, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 1;
  range.l_len = 1;
  while (fcntl(fd, F_OFD_SETLK, &range) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

std::int64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

std::int32_t LockContent(int fd, std::uint32_t timeout_ms) {
  // There is no timed wait for record locks, so the wait polls; holders keep
  // the lock for a few field writes, so the first retries nearly always win.
  const std::int64_t deadline = MonotonicMilliseconds() + timeout_ms;
  while (!TryContentLock(fd, F_WRLCK)) {
    if (errno != EAGAIN && errno != EACCES) return Win32FromErrno(errno);
    if (MonotonicMilliseconds() >= deadline) return win32_error::kWaitTimeout;
    const timespec pause{0, 200'000};
    nanosleep(&pause, nullptr);
  }
  return 0;
}

void UnlockContent(int fd) { TryContentLock(fd, F_UNLCK); }

}  // namespace dovel::platform::posix_block
