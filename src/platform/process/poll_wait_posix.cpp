#include "platform/process/poll_wait.h"

#include <poll.h>

#include <cerrno>

namespace dovel::platform {

std::error_code PollWait(int fd, short events, int timeout_ms, bool& ready) {
  pollfd watched{fd, events, 0};
  const int count = ::poll(&watched, 1, timeout_ms);
  ready = count > 0;
  // A signal ends the wait early; the caller looks again as after a timeout.
  if (count < 0 && errno != EINTR) return {errno, std::generic_category()};
  return {};
}

}  // namespace dovel::platform
