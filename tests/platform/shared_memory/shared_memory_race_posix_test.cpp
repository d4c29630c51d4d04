// The one race a random stress run seldom lands in, made deterministic: a
// process removing a stale block is killed after it has claimed the block and
// before it has unlinked it, while another process is already trying to
// open the same name. The block was dead before those tries began, so the
// open must still report 2 and never hand it out.
//
// The remover is stopped with ptrace on its unlink call; no timing involved.
// Meanwhile the opener's calls give 258 (the remover keeps the gate), and it
// keeps calling, as a caller does after 258, until the remover is killed.

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support_posix.h"

namespace dovel::platform::shm_test {
namespace {

#if defined(__x86_64__)

constexpr int kTraceRefused = 3;

enum class Traced { kAtUnlink, kCannotTrace, kNeverUnlinked };

// Runs the traced child until it enters unlink/unlinkat.
Traced RunUntilUnlink(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return Traced::kCannotTrace;  // its SIGSTOP
  if (ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0) {
    return Traced::kCannotTrace;
  }
  bool entering = true;
  int pass_signal = 0;
  for (;;) {
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, pass_signal) != 0) return Traced::kNeverUnlinked;
    pass_signal = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return Traced::kNeverUnlinked;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      pass_signal = WSTOPSIG(status);
      continue;
    }
    user_regs_struct registers{};
    if (ptrace(PTRACE_GETREGS, pid, nullptr, &registers) != 0) return Traced::kNeverUnlinked;
    const auto call = static_cast<long>(registers.orig_rax);
    if (entering && (call == SYS_unlink || call == SYS_unlinkat)) return Traced::kAtUnlink;
    entering = !entering;
  }
}

TEST(SharedMemoryStaleBlockRace, RemoverKilledMidwayDoesNotHandTheDeadBlockToAWaitingOpener) {
  const StaleBlockLock lock;
  const std::string name = UniqueName("race");
  ASSERT_TRUE(LeaveStaleBlock(name));

  ForkedChild remover([&](int report) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) return kTraceRefused;
    raise(SIGSTOP);
    // Finds the block stale and starts removing it.
    Report(report, std::to_string(ErrorNumber(CurrentSharedMemory().Open(name).status)));
    return 0;
  });
  const Traced traced = RunUntilUnlink(remover.pid());
  if (traced == Traced::kCannotTrace) GTEST_SKIP() << "cannot trace a child here";
  ASSERT_EQ(traced, Traced::kAtUnlink) << "opening a stale block must remove it";

  ForkedChild opener([&](int report) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool waiting = false;
    OpenResult opened = CurrentSharedMemory().Open(name);
    while (opened.status == SystemError::kWaitTimeout && std::chrono::steady_clock::now() < give_up) {
      if (!std::exchange(waiting, true)) Report(report, "waiting");
      opened = CurrentSharedMemory().Open(name);
    }
    CurrentSharedMemory().Close(opened.handle);
    Report(report, std::to_string(ErrorNumber(opened.status)));
    return 0;
  });
  ASSERT_EQ(opener.ReadLine(), "waiting") << "the remover keeps the gate";
  remover.Kill();

  EXPECT_EQ(opener.ReadLine(), std::to_string(ErrorNumber(SystemError::kFileNotFound)));
  EXPECT_EQ(opener.Wait(), 0);
  EXPECT_FALSE(BackingExists(name));
}

#endif

}  // namespace
}  // namespace dovel::platform::shm_test
