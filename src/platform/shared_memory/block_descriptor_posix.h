#pragma once

#include <sys/types.h>

#include <string>

namespace dovel::platform::posix_block {

// Every descriptor of a block object goes through these two calls, so this
// process knows all of them at any instant: the handle table's, those of an
// open, close or sweep still in flight on some thread, and the releases
// waiting for a retry. A forked child closes every one before it returns from
// fork(); a copy kept there would keep the parent's gate or hold alive on the
// shared open file description for as long as the child lives.

// shm_open with O_CLOEXEC added; -1 with errno set on failure.
int OpenDescriptor(const std::string& object, int flags, mode_t mode);

// Closes a descriptor from OpenDescriptor.
void CloseDescriptor(int fd);

}  // namespace dovel::platform::posix_block
