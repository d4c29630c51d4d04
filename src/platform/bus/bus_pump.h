#pragma once

#include <functional>
#include <vector>

#include "platform/loop/message_loop.h"

namespace sdbus {
class IConnection;
}

namespace dovel::platform {

// Runs a message loop and one bus connection together on the calling
// thread: one poll(2) over both descriptors (and any watched ones), the
// loop's due work, then every message the connection has read.
//
// The connection's own timeout is honoured even when it is 0: a synchronous
// call reads later messages ahead into the connection's queue, and the
// descriptor never becomes readable for them again.
// Threads: everything on the thread that runs the loop.
class BusPump {
 public:
  enum class End { kStopped, kConnectionLost };

  BusPump(MessageLoop& loop, sdbus::IConnection& connection) : loop_(loop), connection_(connection) {}

  // Work run before every message the connection dispatches (and before
  // every wait), so that what a handler deferred is done before the next
  // message can reach it.
  void SetBetweenMessages(std::function<void()> work) { between_ = std::move(work); }

  // Calls `on_readable` whenever `descriptor` polls readable; it must
  // consume what made it readable.
  void Watch(int descriptor, std::function<void()> on_readable);

  // Pumps until Stop, or until the connection fails or is closed.
  [[nodiscard]] End Run();
  // Returns from Run after the step in progress.
  void Stop() { stop_ = true; }

  // Dispatches every message already read or readable without waiting, with
  // the work between messages, whether or not Stop was called. False when
  // the connection failed.
  [[nodiscard]] bool Drain();

 private:
  struct Watched {
    int descriptor;
    std::function<void()> on_readable;
  };
  // The shorter of two poll timeouts, -1 meaning none.
  static int Shorter(int a, int b);
  void Between() const {
    if (between_) between_();
  }

  MessageLoop& loop_;
  sdbus::IConnection& connection_;
  std::function<void()> between_;
  std::vector<Watched> watched_;
  bool stop_ = false;
};

}  // namespace dovel::platform
