#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <system_error>

#include "platform/shared_memory/block_descriptor_posix.h"

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

// A descriptor that holds its block (see block_lifetime_posix.cpp), or none
// and the code to report. `status` is success or kAlreadyExists when a
// descriptor is returned. `allocated`: the length whose pages are known to
// exist.
struct [[nodiscard]] Acquired {
  UniqueFd fd;
  std::error_code status;
  off_t allocated = 0;
};

// `object` is a name from ObjectName. Blocks are never smaller than
// kBlockSize, so any opener can size one whose creator has not yet.
[[nodiscard]] Acquired CreateOrOpenBlock(const std::string& object, std::uint32_t size);
[[nodiscard]] Acquired OpenBlock(const std::string& object);

// Gives up one hold and closes `fd`; removes the block if that was the last.
// Never waits more than kReleaseWaitMs: if the gate stays taken, the release
// is finished later by the retry thread.
void ReleaseBlock(UniqueFd fd, const std::string& object);

// One attempt at ReleaseBlock without waiting for the gate; false (and `fd`
// still open and holding) if another descriptor has it.
[[nodiscard]] bool TryReleaseBlock(UniqueFd& fd, const std::string& object);

// Makes sure the pages of the first `length` bytes exist, so touching them
// cannot fault on a full /dev/shm: success, or kNoSystemResources (1450)
// when there is no room.
[[nodiscard]] std::error_code Allocate(int fd, off_t length);

// The content lock: an OFD write lock on byte 1 (byte 0 is the gate), so it
// is per descriptor and the kernel drops it when the holder dies. Polls until
// `timeout_ms` has passed: success when acquired, kWaitTimeout (258) on
// time-out.
[[nodiscard]] std::error_code LockContent(int fd, std::uint32_t timeout_ms);
void UnlockContent(int fd);

// Removes this user's blocks that nobody holds. Returns how many it removed.
// A block whose gate another process keeps is skipped, not waited for.
int SweepStale();

}  // namespace dovel::platform::posix_block
