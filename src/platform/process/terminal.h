#pragma once

namespace dovel::platform {

// Whether this process's standard output is an interactive terminal, so a
// live view may redraw a line in place; false for a pipe, a file or a
// console that is not there.
bool StandardOutputIsTerminal();

}  // namespace dovel::platform
