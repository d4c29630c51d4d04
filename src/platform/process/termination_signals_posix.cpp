#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/process/termination_signals.h"

namespace dovel::platform {
namespace {

// The handler may touch nothing but this.
std::atomic<int> g_write_end{-1};

extern "C" void OnTerminationSignal(int /*signal*/) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already says a signal is pending.
  [[maybe_unused]] const ssize_t written = write(g_write_end.load(), &byte, 1);
  errno = saved;
}

constexpr int kSignals[] = {SIGTERM, SIGINT};

}  // namespace

TerminationSignals::TerminationSignals() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  read_end_ = ends[0];
  g_write_end.store(ends[1]);
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int s : kSignals) sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  if (read_end_ < 0) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int s : kSignals) sigaction(s, &action, nullptr);
  close(g_write_end.exchange(-1));
  close(read_end_);
}

bool TerminationSignals::Consume() {
  bool any = false;
  char buffer[64];
  while (read_end_ >= 0 && read(read_end_, buffer, sizeof buffer) > 0) any = true;
  return any;
}

}  // namespace dovel::platform
