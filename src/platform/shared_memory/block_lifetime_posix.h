#pragma once

#include <cstdint>
#include <string>

namespace dovel::platform::posix_block {

// A descriptor that holds its block (see block_lifetime_posix.cpp), or -1 and
// the code to report. `status` is 0 or 183 on success.
struct Acquired {
  int fd = -1;
  std::int32_t status = 0;
};

// `object` is a name from ObjectName. Blocks are never smaller than
// kBlockSize, so any opener can size one whose creator has not yet.
Acquired CreateOrOpenBlock(const std::string& object, std::uint32_t size);
Acquired OpenBlock(const std::string& object);

// Gives up one hold and closes `fd`; removes the block if that was the last.
void ReleaseBlock(int fd, const std::string& object);

// The content lock: an OFD write lock on byte 1 (byte 0 is the gate), so it
// is per descriptor and the kernel drops it when the holder dies. Polls until
// `timeout_ms` has passed: 0 when acquired, 258 on time-out.
std::int32_t LockContent(int fd, std::uint32_t timeout_ms);
void UnlockContent(int fd);

// Removes this user's blocks that nobody holds. Returns how many it removed.
int SweepStale();

}  // namespace dovel::platform::posix_block
