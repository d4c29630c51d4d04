#pragma once

namespace dovel::platform {

// Raises this process's soft limit on open descriptors to its hard limit.
// On POSIX every open shared block costs a descriptor and every queue object
// holds three, so a server that hosts many objects calls this at start.
// Returns the limit now in force, or -1 where the platform has none (Windows
// handles have no such per-process limit).
long RaiseDescriptorLimit();

}  // namespace dovel::platform
