#pragma once

namespace dovel::platform {

// SIGTERM and SIGINT turned into a descriptor a poll loop can wait on, so a
// server ends its work on its own thread instead of inside a signal handler.
// One instance per process; while it lives, the two signals no longer end
// the process. POSIX only.
class TerminationSignals {
 public:
  TerminationSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // Readable once a signal has arrived; -1 if the descriptor could not be
  // made (the signals then keep their default action).
  [[nodiscard]] int Descriptor() const { return read_end_; }

  // Empties the descriptor: whether a signal had arrived.
  [[nodiscard]] bool Consume();

 private:
  int read_end_ = -1;
};

}  // namespace dovel::platform
