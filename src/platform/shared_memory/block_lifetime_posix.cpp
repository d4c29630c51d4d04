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
//     removed before it could lock it: start over), allocate its pages, at
//     least kBlockSize of them, drop the gate. posix_fallocate grows a block
//     its creator has not sized yet and keeps pages that exist; a client that
//     sized it with ftruncate alone reserved none, and touching a missing
//     page on a full /dev/shm is SIGBUS rather than an error.
// Create: shm_open O_EXCL (the atomic "who is first"), LOCK_SH, re-check
// st_nlink: until LOCK_SH the new object is unheld and an opener or the sweep
// may remove it as stale, so the creator starts over (LOCK_SH refused means
// such a remover holds LOCK_EX right now). Sizing uses posix_fallocate, so a
// full /dev/shm fails here with ENOSPC rather than as SIGBUS on the first touch.
// Close: take the gate, try LOCK_EX, unlink if granted, close().
// Sweep: the opener's stale check, for every object with this user's prefix.
//
// No call waits for another process without a bound: any process of the user
// can take a gate and keep it (a stopped debuggee, a hostile client), and
// every block call runs on the thread that drives the engine's timers. Locks
// are only ever tried (F_OFD_SETLK, LOCK_NB), polling up to a deadline:
//   - an open or create that cannot get the gate within kGateWaitMs gives up
//     with 258, holding nothing;
//   - a close that cannot get it within kReleaseWaitMs keeps its descriptor,
//     and with it its LOCK_SH, and hands it to the retry thread
//     (release_retry_posix.cpp), which finishes the close as above once the
//     gate is free. Until then the block is held, as it was before the close,
//     so no rule changes; if this process ends first, the block is stale;
//   - the sweep skips a block whose gate is taken.
// Threads of this process queue for a block's gate among themselves
// (gate_turn_posix.h), so only another process can make a call give up.
// LOCK_SH itself never has to wait: an opener takes it under the gate (R1),
// and a creator refused it starts over.
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
// Descriptors are close-on-exec, and a forked child closes every block
// descriptor of its parent, including those of calls in flight on other
// threads (block_descriptor_posix.cpp): a copy kept by a child would keep the
// parent's gate or hold on the shared open file description, and lock calls
// on it would act on the parent's locks.

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

#include "platform/shared_memory/block_descriptor_posix.h"
#include "platform/shared_memory/block_name_posix.h"
#include "platform/shared_memory/errno_win32.h"
#include "platform/shared_memory/gate_turn_posix.h"
#include "platform/shared_memory/release_retry_posix.h"
#include "platform/shared_memory/shared_memory.h"

namespace dovel::platform::posix_block {
namespace {

constexpr mode_t kOwnerOnly = 0600;
constexpr off_t kGateByte = 0;
constexpr off_t kContentByte = 1;
// Each round of an open or create after the first follows a stale block
// removed or a new one lost to a remover; only a process that keeps making
// such blocks could keep the rounds going. Counted rather than timed: waiting
// for a turn behind this process's own threads may take any time.
constexpr int kMaxRounds = 64;

std::int64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// One attempt at an OFD lock on one byte, without waiting.
bool TryByte(int fd, short type, off_t byte) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = byte;
  range.l_len = 1;
  while (fcntl(fd, F_OFD_SETLK, &range) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// There is no timed wait for record locks, so the wait polls; holders keep
// these locks for a few system calls or field writes, so the first retries
// nearly always win. 0 when taken, 258 at the deadline.
std::int32_t LockByte(int fd, off_t byte, std::int64_t deadline) {
  while (!TryByte(fd, F_WRLCK, byte)) {
    if (errno != EAGAIN && errno != EACCES) return Win32FromErrno(errno);
    if (MonotonicMilliseconds() >= deadline) return win32_error::kWaitTimeout;
    const timespec pause{0, 200'000};
    nanosleep(&pause, nullptr);
  }
  return win32_error::kSuccess;
}

enum class Step { kHeld, kGone, kAgain, kFailed };

struct Attempt {
  Step step;
  int fd = -1;
  std::int32_t status = 0;
  off_t allocated = 0;
};

Attempt Failed(int fd, std::int32_t status) {
  if (fd >= 0) CloseDescriptor(fd);
  return {Step::kFailed, -1, status};
}

Attempt Again(int fd) {
  CloseDescriptor(fd);
  return {Step::kAgain};
}

bool Hold(int fd) {
  while (flock(fd, LOCK_SH | LOCK_NB) != 0) {
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

Attempt OpenOnce(const std::string& object, std::int64_t deadline) {
  const int fd = OpenDescriptor(object, O_RDWR, 0);
  if (fd < 0) {
    return errno == ENOENT ? Attempt{Step::kGone} : Failed(-1, Win32FromErrno(errno));
  }
  if (const std::int32_t status = CheckOwner(fd); status != 0) return Failed(fd, status);
  // Left on return, after the gate has been dropped.
  const GateTurn turn(object);
  if (const std::int32_t status = LockByte(fd, kGateByte, deadline); status != 0) return Failed(fd, status);
  if (RemoveIfUnheld(fd, object) != Unheld::kNo) return Again(fd);
  // By R1 nobody holds LOCK_EX now; a process that takes it outside the gate
  // breaks the protocol and is not waited for.
  if (!Hold(fd)) return Failed(fd, errno == EWOULDBLOCK ? win32_error::kWaitTimeout : Win32FromErrno(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0) return Failed(fd, Win32FromErrno(errno));
  if (info.st_nlink == 0) return Again(fd);
  // Its creator may not have sized it yet; then this opener does.
  const off_t length = std::max<off_t>(info.st_size, kBlockSize);
  if (const std::int32_t status = Allocate(fd, length); status != 0) {
    RemoveIfUnheld(fd, object);
    return Failed(fd, status);
  }
  TryByte(fd, F_UNLCK, kGateByte);
  return {Step::kHeld, fd, win32_error::kSuccess, length};
}

// Gives up a block we made but cannot hand out, so it is not left behind.
Attempt Abandon(int fd, const std::string& object, std::int32_t status) {
  ReleaseBlock(fd, object);
  return {Step::kFailed, -1, status};
}

// `fd` was just created with O_EXCL.
Attempt FinishCreate(int fd, const std::string& object, off_t length) {
  if (!Hold(fd)) {
    // Refused: an opener or the sweep took it for stale and is removing it.
    return errno == EWOULDBLOCK ? Again(fd) : Abandon(fd, object, Win32FromErrno(errno));
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) return Abandon(fd, object, Win32FromErrno(errno));
  if (info.st_nlink == 0) return Again(fd);  // taken for stale before our hold
  // The umask may have narrowed the mode; other processes of ours open it
  // read/write.
  if ((info.st_mode & 07777) != kOwnerOnly) fchmod(fd, kOwnerOnly);
  if (const std::int32_t status = Allocate(fd, length); status != 0) return Abandon(fd, object, status);
  return {Step::kHeld, fd, win32_error::kSuccess, length};
}

// The end of a release whose gate attempt gave `gate` (0: taken).
void FinishRelease(int fd, const std::string& object, std::int32_t gate) {
  // A gate that cannot be locked at all leaves the block for the next opener
  // or the sweep to find stale.
  if (gate == win32_error::kSuccess) RemoveIfUnheld(fd, object);
  CloseDescriptor(fd);
}

}  // namespace

Acquired CreateOrOpenBlock(const std::string& object, std::uint32_t size) {
  const off_t length = std::max<off_t>(size, kBlockSize);
  const std::int64_t deadline = MonotonicMilliseconds() + kGateWaitMs;
  for (int round = 0; round < kMaxRounds; ++round) {
    Attempt attempt{Step::kGone};
    std::int32_t success = win32_error::kSuccess;
    const int fd = OpenDescriptor(object, O_RDWR | O_CREAT | O_EXCL, kOwnerOnly);
    if (fd >= 0) {
      attempt = FinishCreate(fd, object, length);
    } else if (errno == EEXIST) {
      attempt = OpenOnce(object, deadline);
      success = win32_error::kAlreadyExists;
    } else {
      return {-1, Win32FromErrno(errno)};
    }
    if (attempt.step == Step::kHeld) return {attempt.fd, success, attempt.allocated};
    if (attempt.step == Step::kFailed) return {-1, attempt.status};
  }
  return {-1, win32_error::kWaitTimeout};
}

Acquired OpenBlock(const std::string& object) {
  const std::int64_t deadline = MonotonicMilliseconds() + kGateWaitMs;
  for (int round = 0; round < kMaxRounds; ++round) {
    const Attempt attempt = OpenOnce(object, deadline);
    switch (attempt.step) {
      case Step::kHeld: return {attempt.fd, win32_error::kSuccess, attempt.allocated};
      case Step::kGone: return {-1, win32_error::kFileNotFound};
      case Step::kFailed: return {-1, attempt.status};
      case Step::kAgain: break;
    }
  }
  return {-1, win32_error::kWaitTimeout};
}

void ReleaseBlock(int fd, const std::string& object) {
  GateTurn turn(object);
  const std::int32_t gate = LockByte(fd, kGateByte, MonotonicMilliseconds() + kReleaseWaitMs);
  if (gate == win32_error::kWaitTimeout) {
    turn.Leave();
    return RetryRelease(fd, object);
  }
  FinishRelease(fd, object, gate);
}

bool TryReleaseBlock(int fd, const std::string& object) {
  const GateTurn turn(object, /*wait=*/false);
  if (!turn.taken()) return false;
  if (TryByte(fd, F_WRLCK, kGateByte)) {
    FinishRelease(fd, object, win32_error::kSuccess);
  } else if (errno == EAGAIN || errno == EACCES) {
    return false;
  } else {
    FinishRelease(fd, object, Win32FromErrno(errno));
  }
  return true;
}

std::int32_t Allocate(int fd, off_t length) {
  // posix_fallocate keeps pages that exist but costs a few times more than
  // finding the first missing one, and most opens find none.
  if (lseek(fd, 0, SEEK_HOLE) >= length) return win32_error::kSuccess;
  int error = 0;
  while ((error = posix_fallocate(fd, 0, length)) == EINTR) {
  }
  return Win32FromErrno(error);
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
    const int fd = OpenDescriptor(object, O_RDWR, 0);
    if (fd < 0) continue;
    const GateTurn turn(object, /*wait=*/false);
    if (turn.taken() && CheckOwner(fd) == 0 && TryByte(fd, F_WRLCK, kGateByte) &&
        RemoveIfUnheld(fd, object) == Unheld::kRemoved) {
      ++removed;
    }
    CloseDescriptor(fd);
  }
  return removed;
}

std::int32_t LockContent(int fd, std::uint32_t timeout_ms) {
  return LockByte(fd, kContentByte, MonotonicMilliseconds() + timeout_ms);
}

void UnlockContent(int fd) { TryByte(fd, F_UNLCK, kContentByte); }

}  // namespace dovel::platform::posix_block
