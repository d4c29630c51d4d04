#include "platform/shared_memory/gate_turn_posix.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <functional>

#include "platform/shared_memory/errno_win32.h"

namespace dovel::platform::posix_block {
namespace {

// A futex lock per slot: 0 free, 1 taken, 2 taken with threads asleep on it.
// Not std::mutex, because a child forked while another thread holds a turn
// must find every turn free: that thread does not exist there.
constexpr int kFree = 0;
constexpr int kTaken = 1;
constexpr int kContended = 2;

class Turns {
 public:
  static Turns& Instance() {
    static Turns* const instance = new Turns();
    return *instance;
  }

  static int SlotOf(const std::string& object) { return static_cast<int>(std::hash<std::string>{}(object) % kSlots); }

  bool TryTake(int slot) {
    int expected = kFree;
    return slots_[slot].compare_exchange_strong(expected, kTaken, std::memory_order_acquire);
  }

  void Take(int slot) {
    std::atomic<int>& state = slots_[slot];
    int seen = kFree;
    if (state.compare_exchange_strong(seen, kTaken, std::memory_order_acquire)) return;
    if (seen != kContended) seen = state.exchange(kContended, std::memory_order_acquire);
    while (seen != kFree) {
      Futex(state, FUTEX_WAIT_PRIVATE, kContended);
      seen = state.exchange(kContended, std::memory_order_acquire);
    }
  }

  void Leave(int slot) {
    std::atomic<int>& state = slots_[slot];
    if (state.exchange(kFree, std::memory_order_release) == kContended) Futex(state, FUTEX_WAKE_PRIVATE, 1);
  }

  int fork_hooks() const { return fork_hooks_; }

 private:
  static constexpr std::size_t kSlots = 64;

  Turns() : fork_hooks_(pthread_atfork(nullptr, nullptr, &AfterForkInChild)) {}

  // A wait that returns early (a signal, or the state changed before it
  // slept) and a wake that finds nobody both leave the state to the
  // callers' loops, which look at it again.
  static void Futex(std::atomic<int>& state, int operation, int value) {
    static_cast<void>(syscall(SYS_futex, reinterpret_cast<int*>(&state), operation, value, nullptr, nullptr, 0));
  }

  static void AfterForkInChild() {
    for (std::atomic<int>& state : Instance().slots_) state.store(kFree, std::memory_order_relaxed);
  }

  static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);
  std::array<std::atomic<int>, kSlots> slots_{};
  const int fork_hooks_;  // what pthread_atfork returned
};

}  // namespace

GateTurn::GateTurn(const std::string& object, bool wait) {
  const int slot = Turns::SlotOf(object);
  if (wait) {
    Turns::Instance().Take(slot);
    slot_ = slot;
  } else if (Turns::Instance().TryTake(slot)) {
    slot_ = slot;
  }
}

GateTurn::~GateTurn() { Leave(); }

void GateTurn::Leave() {
  if (slot_ < 0) return;
  Turns::Instance().Leave(slot_);
  slot_ = -1;
}

std::error_code PrepareGateTurnsForFork() { return Win32FromErrno(Turns::Instance().fork_hooks()); }

}  // namespace dovel::platform::posix_block
