#pragma once

#include <string>
#include <system_error>

namespace dovel::platform::posix_block {

// Threads of this process take turns at a block's gate, queueing here rather
// than polling the gate against each other: a poller can time out behind a
// thread of its own process that was merely descheduled while holding the
// gate, and 258 is meant to say that another process kept it. A thread holds
// a turn only for one bounded gate section, so waiting for a turn is bounded
// too. Turns are shared by hashed name, so two blocks may now and then share
// one.
class GateTurn {
 public:
  // Waits for the turn of `object`, or only takes it if it is free when
  // `wait` is false; see taken().
  explicit GateTurn(const std::string& object, bool wait = true);
  ~GateTurn();
  GateTurn(const GateTurn&) = delete;
  GateTurn& operator=(const GateTurn&) = delete;

  bool taken() const { return slot_ >= 0; }
  // Gives the turn up before the end of the scope.
  void Leave();

 private:
  int slot_ = -1;
};

// Registers the fork handler of the turns, once, and returns how that went.
[[nodiscard]] std::error_code PrepareGateTurnsForFork();

}  // namespace dovel::platform::posix_block
