#pragma once

// The POSIX side of the shared-memory tests: the /dev/shm layout, forked
// children and the dovel command as a second process.

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shared_memory/shm_test_support.h"

namespace dovel::platform::shm_test {

// The /dev/shm entry that backs `name` for user `uid`. Spelled out here rather
// than taken from the implementation: administrators rely on this layout.
std::string BackingPath(std::string_view name, unsigned uid);
std::string BackingPath(std::string_view name);

// /dev/shm entries whose name contains `token`.
std::vector<std::string> ShmEntriesContaining(std::string_view token);

// A forked child running `body(report_fd)`; the body's return value is the
// exit code. The child must open its own handles. Killed and reaped on
// destruction if still running, so no test leaves a process behind.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<int(int report_fd)>& body);
  ~ForkedChild();
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  pid_t pid() const { return pid_; }
  // Next line the child wrote to report_fd; empty at end of stream.
  std::string ReadLine();
  void Kill();
  // Exit code, or 128 + signal number.
  int Wait();

 private:
  pid_t pid_ = -1;
  int report_fd_ = -1;
};

// A child's side of ForkedChild: writes `line` and a newline to `fd`.
void Report(int fd, std::string_view line);

// One run of `dovel ARGS...` (`block read ...`, `sweep`, `blocks`).
struct ToolRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};
ToolRun RunTool(const std::vector<std::string>& args);

// `dovel block hold [--create] NAME` running in the background.
class HeldByTool {
 public:
  HeldByTool(std::string_view name, bool create);
  ~HeldByTool();
  HeldByTool(const HeldByTool&) = delete;
  HeldByTool& operator=(const HeldByTool&) = delete;

  // The status line the tool printed once it held the block ("" if it failed).
  const std::string& status() const { return status_; }
  // Lets the tool close its handle and exit; returns its exit code.
  int Release();

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  std::string status_;
};

// Serialises the tests that create or sweep stale blocks across test
// processes, since a sweep removes every stale block of this user.
class StaleBlockLock {
 public:
  StaleBlockLock();
  ~StaleBlockLock();
  StaleBlockLock(const StaleBlockLock&) = delete;
  StaleBlockLock& operator=(const StaleBlockLock&) = delete;

 private:
  int fd_ = -1;
};

// Leaves a stale block: a forked child creates `name`, writes to it and is
// killed while holding it. Returns false if the child did not get that far.
bool LeaveStaleBlock(const std::string& name);

}  // namespace dovel::platform::shm_test
