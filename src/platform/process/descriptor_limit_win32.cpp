#include "platform/process/descriptor_limit.h"

namespace dovel::platform {

// Windows handles have no per-process limit to raise.
long RaiseDescriptorLimit() { return -1; }

}  // namespace dovel::platform
