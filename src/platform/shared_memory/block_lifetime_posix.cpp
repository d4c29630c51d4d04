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
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/error_codes.h"
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
  // Fails only for an unknown clock or a bad pointer; neither can happen here.
  static_cast<void>(clock_gettime(CLOCK_MONOTONIC, &now));
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// One attempt at an OFD lock on one byte, without waiting.
[[nodiscard]] bool TryByte(int fd, short type, off_t byte) {
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

enum class Wait { kTaken, kTimedOut, kFailed };  // kFailed: errno says why

// There is no timed wait for record locks, so the wait polls; holders keep
// these locks for a few system calls or field writes, so the first retries
// nearly always win.
[[nodiscard]] Wait WaitForByte(int fd, off_t byte, std::int64_t deadline) {
  while (!TryByte(fd, F_WRLCK, byte)) {
    if (errno != EAGAIN && errno != EACCES) return Wait::kFailed;
    if (MonotonicMilliseconds() >= deadline) return Wait::kTimedOut;
    const timespec pause{0, 200'000};
    // A signal only cuts the pause short; the loop looks again either way.
    static_cast<void>(nanosleep(&pause, nullptr));
  }
  return Wait::kTaken;
}

// Success when taken, kWaitTimeout at the deadline.
[[nodiscard]] std::error_code LockByte(int fd, off_t byte, std::int64_t deadline) {
  switch (WaitForByte(fd, byte, deadline)) {
    case Wait::kTaken: return {};
    case Wait::kTimedOut: return SystemError::kWaitTimeout;
    case Wait::kFailed: break;
  }
  return Win32FromErrno(errno);
}

enum class Step { kHeld, kGone, kAgain, kFailed };

struct Attempt {
  Step step;
  UniqueFd fd;
  std::error_code status;
  off_t allocated = 0;
};

// These take the descriptor by value, so it is closed before the caller's
// GateTurn is left: a turn left first would let another thread of ours poll
// a gate we still hold.
Attempt Failed(UniqueFd fd, std::error_code status) {
  fd.reset();
  return {Step::kFailed, {}, status};
}

Attempt Failed(std::error_code status) { return {Step::kFailed, {}, status}; }

Attempt Again(UniqueFd fd) {
  fd.reset();
  return {Step::kAgain, {}, {}};
}

[[nodiscard]] bool Hold(int fd) {
  while (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Another user's object under our name must never become our block.
[[nodiscard]] std::error_code CheckOwner(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return Win32FromErrno(errno);
  if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) return SystemError::kAccessDenied;
  return {};
}

enum class Unheld { kNo, kAlreadyGone, kRemoved };

// Caller holds the gate (R1, R2). A failed fstat or unlink counts as gone:
// the caller then starts over or leaves, and never unlinks on a guess.
[[nodiscard]] Unheld RemoveIfUnheld(int fd, const std::string& object) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return Unheld::kNo;
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_nlink == 0) return Unheld::kAlreadyGone;
  return shm_unlink(object.c_str()) == 0 ? Unheld::kRemoved : Unheld::kAlreadyGone;
}

Attempt OpenOnce(const std::string& object, std::int64_t deadline) {
  UniqueFd fd = OpenDescriptor(object, O_RDWR, 0);
  if (!fd) {
    return errno == ENOENT ? Attempt{Step::kGone, {}, {}} : Failed(Win32FromErrno(errno));
  }
  if (const std::error_code status = CheckOwner(fd.get())) return Failed(std::move(fd), status);
  // Left on return, after the gate has been dropped.
  const GateTurn turn(object);
  if (const std::error_code status = LockByte(fd.get(), kGateByte, deadline)) {
    return Failed(std::move(fd), status);
  }
  if (RemoveIfUnheld(fd.get(), object) != Unheld::kNo) return Again(std::move(fd));
  // By R1 nobody holds LOCK_EX now; a process that takes it outside the gate
  // breaks the protocol and is not waited for.
  if (!Hold(fd.get())) {
    const std::error_code status = errno == EWOULDBLOCK ? SystemError::kWaitTimeout : Win32FromErrno(errno);
    return Failed(std::move(fd), status);
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return Failed(std::move(fd), Win32FromErrno(errno));
  if (info.st_nlink == 0) return Again(std::move(fd));
  // Its creator may not have sized it yet; then this opener does.
  const off_t length = std::max<off_t>(info.st_size, kBlockSize);
  std::error_code status = Allocate(fd.get(), length);
  // A handle that kept the gate would stall every other open and close of
  // the block for as long as it lives.
  if (!status && !TryByte(fd.get(), F_UNLCK, kGateByte)) status = Win32FromErrno(errno);
  if (status) {
    // Still under the gate. Whether this was the last hold only decides
    // whether the block goes now; the call fails either way.
    static_cast<void>(RemoveIfUnheld(fd.get(), object));
    return Failed(std::move(fd), status);
  }
  return {Step::kHeld, std::move(fd), {}, length};
}

// Gives up a block we made but cannot hand out, so it is not left behind.
Attempt Abandon(UniqueFd fd, const std::string& object, std::error_code status) {
  ReleaseBlock(std::move(fd), object);
  return {Step::kFailed, {}, status};
}

// `fd` was just created with O_EXCL.
Attempt FinishCreate(UniqueFd fd, const std::string& object, off_t length) {
  if (!Hold(fd.get())) {
    // Refused: an opener or the sweep took it for stale and is removing it.
    if (errno == EWOULDBLOCK) return Again(std::move(fd));
    const std::error_code status = Win32FromErrno(errno);
    return Abandon(std::move(fd), object, status);
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) {
    const std::error_code status = Win32FromErrno(errno);
    return Abandon(std::move(fd), object, status);
  }
  if (info.st_nlink == 0) return Again(std::move(fd));  // taken for stale before our hold
  // The umask may have narrowed the mode; other processes of ours open it
  // read/write, and would be refused a block left narrower.
  if ((info.st_mode & 07777) != kOwnerOnly && fchmod(fd.get(), kOwnerOnly) != 0) {
    const std::error_code status = Win32FromErrno(errno);
    return Abandon(std::move(fd), object, status);
  }
  if (const std::error_code status = Allocate(fd.get(), length)) return Abandon(std::move(fd), object, status);
  return {Step::kHeld, std::move(fd), {}, length};
}

// The end of a release, with the gate taken or, when it cannot be locked at
// all, without: that leaves the block for the next opener or the sweep to
// find stale. A close has nobody to report a failure to.
void FinishRelease(UniqueFd fd, const std::string& object, bool gate_taken) {
  // Whether the block was removed does not matter: this hold is given up
  // either way.
  if (gate_taken) static_cast<void>(RemoveIfUnheld(fd.get(), object));
  fd.reset();
}

struct CloseDirectory {
  // Fails only for a stream that is not open.
  void operator()(DIR* directory) const { static_cast<void>(closedir(directory)); }
};

}  // namespace

Acquired CreateOrOpenBlock(const std::string& object, std::uint32_t size) {
  const off_t length = std::max<off_t>(size, kBlockSize);
  const std::int64_t deadline = MonotonicMilliseconds() + kGateWaitMs;
  for (int round = 0; round < kMaxRounds; ++round) {
    Attempt attempt{Step::kGone, {}, {}};
    std::error_code success;
    UniqueFd fd = OpenDescriptor(object, O_RDWR | O_CREAT | O_EXCL, kOwnerOnly);
    if (fd) {
      attempt = FinishCreate(std::move(fd), object, length);
    } else if (errno == EEXIST) {
      attempt = OpenOnce(object, deadline);
      success = SystemError::kAlreadyExists;
    } else {
      return {{}, Win32FromErrno(errno)};
    }
    if (attempt.step == Step::kHeld) return {std::move(attempt.fd), success, attempt.allocated};
    if (attempt.step == Step::kFailed) return {{}, attempt.status};
  }
  return {{}, SystemError::kWaitTimeout};
}

Acquired OpenBlock(const std::string& object) {
  const std::int64_t deadline = MonotonicMilliseconds() + kGateWaitMs;
  for (int round = 0; round < kMaxRounds; ++round) {
    Attempt attempt = OpenOnce(object, deadline);
    switch (attempt.step) {
      case Step::kHeld: return {std::move(attempt.fd), {}, attempt.allocated};
      case Step::kGone: return {{}, SystemError::kFileNotFound};
      case Step::kFailed: return {{}, attempt.status};
      case Step::kAgain: break;
    }
  }
  return {{}, SystemError::kWaitTimeout};
}

void ReleaseBlock(UniqueFd fd, const std::string& object) {
  GateTurn turn(object);
  const Wait gate = WaitForByte(fd.get(), kGateByte, MonotonicMilliseconds() + kReleaseWaitMs);
  if (gate == Wait::kTimedOut) {
    turn.Leave();
    return RetryRelease(std::move(fd), object);
  }
  FinishRelease(std::move(fd), object, gate == Wait::kTaken);
}

bool TryReleaseBlock(UniqueFd& fd, const std::string& object) {
  const GateTurn turn(object, /*wait=*/false);
  if (!turn.taken()) return false;
  if (TryByte(fd.get(), F_WRLCK, kGateByte)) {
    FinishRelease(std::move(fd), object, true);
  } else if (errno == EAGAIN || errno == EACCES) {
    return false;
  } else {
    FinishRelease(std::move(fd), object, false);
  }
  return true;
}

std::error_code Allocate(int fd, off_t length) {
  // posix_fallocate keeps pages that exist but costs a few times more than
  // finding the first missing one, and most opens find none. A failed lseek
  // (-1) falls through to posix_fallocate, which reports for itself.
  if (lseek(fd, 0, SEEK_HOLE) >= length) return {};
  int error = 0;
  while ((error = posix_fallocate(fd, 0, length)) == EINTR) {
  }
  return Win32FromErrno(error);
}

int SweepStale() {
  const std::string prefix = UserPrefix(geteuid());
  std::vector<std::string> objects;
  if (const std::unique_ptr<DIR, CloseDirectory> directory{opendir(kShmDirectory)}) {
    while (const dirent* entry = readdir(directory.get())) {
      const std::string_view name(entry->d_name);
      if (name.starts_with(prefix)) objects.push_back("/" + std::string(name));
    }
  }
  int removed = 0;
  for (const std::string& object : objects) {
    UniqueFd fd = OpenDescriptor(object, O_RDWR, 0);
    if (!fd) continue;
    const GateTurn turn(object, /*wait=*/false);
    if (turn.taken() && !CheckOwner(fd.get()) && TryByte(fd.get(), F_WRLCK, kGateByte) &&
        RemoveIfUnheld(fd.get(), object) == Unheld::kRemoved) {
      ++removed;
    }
    fd.reset();  // drops the gate before the turn is left
  }
  return removed;
}

std::error_code LockContent(int fd, std::uint32_t timeout_ms) {
  return LockByte(fd, kContentByte, MonotonicMilliseconds() + timeout_ms);
}

// Unlocking the one byte this descriptor locked splits no lock range, so it
// cannot run out of locks; the other failures are for a descriptor that is
// not open, and the caller's handle table vouches for it.
void UnlockContent(int fd) { static_cast<void>(TryByte(fd, F_UNLCK, kContentByte)); }

}  // namespace dovel::platform::posix_block
