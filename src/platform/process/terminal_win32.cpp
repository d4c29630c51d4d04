#include <windows.h>

#include "platform/process/terminal.h"

namespace dovel::platform {

// Only a console has a mode; a pipe or a file does not.
bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace dovel::platform
