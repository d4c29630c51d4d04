#pragma once

#include <system_error>

namespace dovel::platform {

// Waits until `fd` is ready for any of the poll(2) `events`, for at most
// `timeout_ms` milliseconds (-1: for ever). `ready` says whether it became
// ready; an interrupted wait counts as a wait that ended with nothing.
std::error_code PollWait(int fd, short events, int timeout_ms, bool& ready);

}  // namespace dovel::platform
