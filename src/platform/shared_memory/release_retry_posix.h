#pragma once

#include <cstddef>
#include <string>
#include <system_error>

#include "platform/shared_memory/block_descriptor_posix.h"

namespace dovel::platform::posix_block {

// Releases whose close could not get the gate in time (another process held
// it). The descriptor keeps its hold, so the block stays alive meanwhile; a
// small thread of this process tries the gate again now and then, never
// waiting on it, and once it gets it finishes the release as a close would,
// removing the block if that was its last hold. If this
// process ends first, its holds go with it and the block is left stale for
// the next opener or the sweep.
void RetryRelease(UniqueFd fd, std::string object);

// Releases still waiting for their retry in this process.
std::size_t PendingReleases();

// Registers the fork handlers of the retry queue, once, and returns how
// that went.
[[nodiscard]] std::error_code PrepareRetriesForFork();

}  // namespace dovel::platform::posix_block
