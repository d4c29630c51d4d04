#include <unistd.h>

#include "platform/process/terminal.h"

namespace dovel::platform {

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace dovel::platform
