#include "platform/shared_memory/release_retry_posix.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/shared_memory/block_lifetime_posix.h"
#include "platform/shared_memory/errno_win32.h"

namespace dovel::platform::posix_block {
namespace {

struct Pending {
  UniqueFd fd;
  std::string object;
};

// The first retry comes soon, since a gate is normally held for microseconds;
// a holder that keeps it longer is asked less and less often.
constexpr long kFirstPauseNs = 1'000'000;
constexpr long kLongestPauseNs = 100'000'000;

class Retries {
 public:
  // Never destroyed: the retry thread may still run during exit.
  static Retries& Instance() {
    static Retries* const instance = new Retries();
    return *instance;
  }

  void Add(UniqueFd fd, std::string object) {
    const std::lock_guard lock(mutex_);
    pending_.push_back({std::move(fd), std::move(object)});
    count_.fetch_add(1, std::memory_order_relaxed);
    if (running_) return;
    try {
      std::thread([this] { Run(); }).detach();
      running_ = true;
    } catch (const std::system_error&) {
      // No thread now; the next release that has to wait starts one.
    }
  }

  std::size_t Count() const { return count_.load(std::memory_order_relaxed); }
  int fork_hooks() const { return fork_hooks_; }

 private:
  Retries() : fork_hooks_(pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild)) {}

  // The gate is only ever tried here, never waited for, and the mutex is not
  // held meanwhile, so neither a holder nor fork() is kept waiting.
  void Run() {
    long pause_ns = kFirstPauseNs;
    std::vector<Pending> batch;
    for (;;) {
      {
        const std::lock_guard lock(mutex_);
        for (Pending& kept : batch) pending_.push_back(std::move(kept));
        batch.clear();
        if (pending_.empty()) {
          running_ = false;
          return;
        }
        batch.swap(pending_);
      }
      const timespec pause{0, pause_ns};
      // A signal only makes this retry come early.
      static_cast<void>(nanosleep(&pause, nullptr));
      pause_ns = std::min(pause_ns * 2, kLongestPauseNs);
      std::erase_if(batch, [this](Pending& pending) {
        if (!TryReleaseBlock(pending.fd, pending.object)) return false;
        count_.fetch_sub(1, std::memory_order_relaxed);
        return true;
      });
    }
  }

  static void BeforeFork() { Instance().mutex_.lock(); }
  static void AfterForkInParent() { Instance().mutex_.unlock(); }

  // The child has no retry thread and none of the parent's holds: the
  // descriptors themselves are closed with all others (block_descriptor_posix),
  // so their owners here only forget them.
  static void AfterForkInChild() {
    Retries& self = Instance();
    for (Pending& pending : self.pending_) pending.fd.release();
    self.pending_.clear();
    self.count_.store(0, std::memory_order_relaxed);
    self.running_ = false;
    self.mutex_.unlock();
  }

  std::mutex mutex_;
  std::vector<Pending> pending_;  // those the thread is not trying right now
  std::atomic<std::size_t> count_{0};
  bool running_ = false;
  const int fork_hooks_;  // what pthread_atfork returned
};

}  // namespace

void RetryRelease(UniqueFd fd, std::string object) { Retries::Instance().Add(std::move(fd), std::move(object)); }

std::size_t PendingReleases() { return Retries::Instance().Count(); }

std::error_code PrepareRetriesForFork() { return Win32FromErrno(Retries::Instance().fork_hooks()); }

}  // namespace dovel::platform::posix_block
