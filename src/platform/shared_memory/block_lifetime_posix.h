#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace dovel::platform::posix_block {

// How long an open or create waits for another process to let go of a
// block's gate before it gives up with 258. Every block call runs on the
// thread that drives the engine's timers, so the bound is a small part of a
// tick; an honest holder keeps the gate for a few system calls. The
// interface states this value (shared_memory.h).
inline constexpr std::uint32_t kGateWaitMs = 20;

// How long a close tries for the gate before it leaves the release to the
// retry thread (release_retry_posix.h): a close has nothing to report, so it
// never waits long.
inline constexpr std::uint32_t kReleaseWaitMs = 2;

// A descriptor that holds its block (see block_lifetime_posix.cpp), or -1 and
// the code to report. `status` is 0 or 183 on success. `allocated`: the
// length whose pages are known to exist.
struct Acquired {
  int fd = -1;
  std::int32_t status = 0;
  off_t allocated = 0;
};

// `object` is a name from ObjectName. Blocks are never smaller than
// kBlockSize, so any opener can size one whose creator has not yet.
Acquired CreateOrOpenBlock(const std::string& object, std::uint32_t size);
Acquired OpenBlock(const std::string& object);

// Gives up one hold and closes `fd`; removes the block if that was the last.
// Never waits more than kReleaseWaitMs: if the gate stays taken, the release
// is finished later by the retry thread.
void ReleaseBlock(int fd, const std::string& object);

// One attempt at ReleaseBlock without waiting for the gate; false (and `fd`
// still open and holding) if another descriptor has it.
bool TryReleaseBlock(int fd, const std::string& object);

// Makes sure the pages of the first `length` bytes exist, so touching them
// cannot fault on a full /dev/shm: 0, or 1450 when there is no room.
std::int32_t Allocate(int fd, off_t length);

// The content lock: an OFD write lock on byte 1 (byte 0 is the gate), so it
// is per descriptor and the kernel drops it when the holder dies. Polls until
// `timeout_ms` has passed: 0 when acquired, 258 on time-out.
std::int32_t LockContent(int fd, std::uint32_t timeout_ms);
void UnlockContent(int fd);

// Removes this user's blocks that nobody holds. Returns how many it removed.
// A block whose gate another process keeps is skipped, not waited for.
int SweepStale();

}  // namespace dovel::platform::posix_block
