#include "platform/bus/bus_pump.h"

#include <poll.h>

#include <sdbus-c++/sdbus-c++.h>
#include <cerrno>

namespace dovel::platform {

void BusPump::Watch(int descriptor, std::function<void()> on_readable) {
  watched_.push_back({descriptor, std::move(on_readable)});
}

int BusPump::Shorter(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return a < b ? a : b;
}

bool BusPump::Drain() {
  try {
    // Not cut short by Stop: a server that stops drains what it has read.
    do {
      Between();
    } while (connection_.processPendingRequest());
    return true;
  } catch (const sdbus::Error&) {
    return false;
  }
}

BusPump::End BusPump::Run() {
  stop_ = false;
  std::vector<pollfd> fds;
  while (!stop_) {
    Between();
    sdbus::IConnection::PollData bus{};
    try {
      bus = connection_.getEventLoopPollData();
    } catch (const sdbus::Error&) {
      return End::kConnectionLost;
    }
    const int timeout = Shorter(bus.getPollTimeout(), loop_.TimeUntilDue());
    fds.clear();
    fds.push_back({bus.fd, bus.events, 0});
    fds.push_back({loop_.PollDescriptor(), POLLIN, 0});
    for (const Watched& w : watched_) fds.push_back({w.descriptor, POLLIN, 0});
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return End::kConnectionLost;

    for (std::size_t i = 0; i < watched_.size() && !stop_; ++i) {
      if ((fds[i + 2].revents & POLLIN) != 0) watched_[i].on_readable();
    }
    if (stop_) break;
    loop_.RunDue();
    if (stop_) break;
    // A hang-up still leaves what was read before it to dispatch; the next
    // round's processPendingRequest reports the broken connection.
    if (!Drain()) return End::kConnectionLost;
  }
  return End::kStopped;
}

}  // namespace dovel::platform
