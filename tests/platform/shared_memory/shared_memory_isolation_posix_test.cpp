// What another process can do to this one's blocks: keep a block's gate (a
// hostile client, one stopped in a debugger) or be forked from it while other
// threads are in the middle of a call. Neither may stall a call here for
// long, nor leave a descriptor of ours in the other process.
//
// The bounds asserted are generous: they tell "gave up on the holder" from
// "waited for the holder", whose hold lasts seconds.

#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support_posix.h"

namespace dovel::platform::shm_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kGenerousBound = std::chrono::seconds(1);
constexpr int kHoldSeconds = 3;

// A forked child that takes the gate (byte 0, as the POSIX layer locks it)
// of `name` through a descriptor of its own and keeps it for kHoldSeconds,
// or until it is killed.
class GateHolder {
 public:
  explicit GateHolder(const std::string& name)
      : child_([object = BackingPath(name).substr(std::strlen("/dev/shm"))](int report) {
          const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
          struct flock range {};
          range.l_type = F_WRLCK;
          range.l_whence = SEEK_SET;
          range.l_len = 1;
          if (fd < 0 || fcntl(fd, F_OFD_SETLK, &range) != 0) return 1;
          Report(report, "holding");
          const timespec hold{kHoldSeconds, 0};
          nanosleep(&hold, nullptr);
          return 0;
        }),
        holding_(child_.ReadLine() == "holding") {}

  bool holding() const { return holding_; }
  void LetGo() { child_.Kill(); }

 private:
  ForkedChild child_;
  const bool holding_;
};

template <class Call>
Clock::duration Timed(Call call) {
  const auto start = Clock::now();
  call();
  return Clock::now() - start;
}

bool GoneWithin(const std::string& name, std::chrono::seconds limit) {
  const auto give_up = Clock::now() + limit;
  while (BackingExists(name)) {
    if (Clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

using SharedMemoryGateHeldElsewhere = SharedMemoryTest;

TEST_F(SharedMemoryGateHeldElsewhere, CallsGiveUpOnTheHolderAndTheClosedBlockGoesOnceItLetsGo) {
  const std::string name = UniqueName("gate");
  const OpenResult plain = Create(name);
  const OpenResult mapped = Open(name);
  ASSERT_EQ(plain.status, std::error_code());
  ASSERT_EQ(mapped.status, std::error_code());
  std::byte* view = memory_.Map(mapped.handle).view;
  ASSERT_NE(view, nullptr);
  GateHolder holder(name);
  ASSERT_TRUE(holder.holding());

  OpenResult opened;
  EXPECT_LT(Timed([&] { opened = memory_.Open(name); }), kGenerousBound);
  EXPECT_EQ(opened.handle, 0u);
  EXPECT_EQ(opened.status, SystemError::kWaitTimeout);
  OpenResult created;
  EXPECT_LT(Timed([&] { created = memory_.CreateOrOpen(name, kBlockSize); }), kGenerousBound);
  EXPECT_EQ(created.handle, 0u);
  EXPECT_EQ(created.status, SystemError::kWaitTimeout);
  memory_.Close(opened.handle);
  memory_.Close(created.handle);

  // Both holds end here: one by Close, the other by the Unmap after it.
  EXPECT_LT(Timed([&] { memory_.Close(plain.handle); }), kGenerousBound);
  memory_.Close(mapped.handle);
  EXPECT_LT(Timed([&] { memory_.Unmap(view); }), kGenerousBound);
  EXPECT_LT(Timed([] { SweepStaleBlocks(); }), kGenerousBound);
  EXPECT_TRUE(BackingExists(name)) << "removed without the gate";

  holder.LetGo();
  EXPECT_TRUE(GoneWithin(name, std::chrono::seconds(10))) << "the last close was never finished";
  EXPECT_EQ(memory_.Open(name).status, SystemError::kFileNotFound);
}

// The number of this process's block descriptors open in the calling
// process; run in a forked child. Reads /proc/self/fd one number at a time.
int InheritedBlockDescriptors(const std::string& prefix) {
  int found = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[64];
    char target[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    found += std::strncmp(target, prefix.c_str(), prefix.size()) == 0;
  }
  return found;
}

TEST(SharedMemoryFork, ChildForkedDuringCallsOnOtherThreadsInheritsNoBlockDescriptor) {
  constexpr int kThreads = 3;
  constexpr int kForks = 100;
  // Every block of this process, in whatever state of a call.
  const std::string prefix = BackingPath(ProcessToken());
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&stop, t] {
      SharedMemory& memory = CurrentSharedMemory();
      const std::string kept = UniqueName("fork-kept" + std::to_string(t));
      const std::string fresh = UniqueName("fork-fresh" + std::to_string(t));
      const OpenResult keeper = memory.CreateOrOpen(kept, kBlockSize);
      while (!stop.load()) {
        const OpenResult opened = memory.Open(kept);
        const MapResult view = memory.Map(opened.handle);
        memory.Close(opened.handle);
        memory.Unmap(view.view);
        memory.Close(memory.CreateOrOpen(fresh, kBlockSize).handle);
      }
      memory.Close(keeper.handle);
    });
  }

  int forks = 0;
  int leaking = 0;
  const auto give_up = Clock::now() + std::chrono::seconds(10);
  for (; forks < kForks && Clock::now() < give_up; ++forks) {
    ForkedChild child([&](int) { return InheritedBlockDescriptors(prefix); });
    leaking += child.Wait() != 0;
  }
  stop.store(true);
  for (std::thread& thread : threads) thread.join();

  EXPECT_GT(forks, 0);
  EXPECT_EQ(leaking, 0) << "of " << forks << " children";
  EXPECT_TRUE(ShmEntriesContaining(ProcessToken() + "fork-").empty());
}

}  // namespace
}  // namespace dovel::platform::shm_test
