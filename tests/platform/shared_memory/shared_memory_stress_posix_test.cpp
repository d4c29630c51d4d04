// Forked children race CreateOrOpen/Open/Map/Unmap/Close on a few names while
// the parent SIGKILLs a child every few milliseconds (preferring one inside a
// call) and replaces it; now and then it kills every holder of a name at once
// so that the rest race to clean up the stale block.
// DOVEL_SOAK_SECONDS sets the length (default 3 s). Every random choice (the
// children's moves, the victims, the drained names) comes from one seed,
// printed as "stress seed: N" at the start; DOVEL_STRESS_SEED=N replays that
// sequence of choices. The kills still land wherever the scheduler puts
// them, so a replay retraces the same run rather than the same interleaving.
//
// A kill landing exactly between two steps of a cleanup is rare at random;
// shared_memory_race_posix_test.cpp forces that case.
//
// Each name has an announcement word in shared memory: one bit per child
// that holds it or is about to acquire it (set before the call, cleared after
// the last release, or by the parent once a killed child is reaped), and a
// generation that moves on whenever the last bit clears. So the bits always
// cover every process that could hold the name, and a generation change
// proves that nobody held its block at that instant: the block is dead.
//
// Invariants:
//   - a block reported new (status 0) is all zeros;
//   - a block is only ever handed out in the generation it was created in:
//     a dead block must stay dead (this catches a stale block handed to an
//     opener, e.g. when the process cleaning it up is killed);
//   - while a child holds a name, the name exists and is one block:
//     CreateOrOpen gives 183, Open succeeds, both reach the same bytes;
//   - drains: the parent bars a name, waits until no child holds it (killing
//     some holders to leave stale blocks), then Open must give 2, a create a
//     zeroed block, and closing that must remove it;
//   - afterwards no block of the test is left in /dev/shm.
// A call that met another process's gate for too long gives 258 and holds
// nothing; a close that did keeps its hold until its retry, so a child keeps
// its announcement until this process has no release left to retry.
//
// The creator stamps a block (generation, then a non-zero id) once it has
// checked it is zero; nobody writes to an unstamped block, so a write can
// never be mistaken for a dirty new block.

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/shared_memory/release_retry_posix.h"
#include "platform/shared_memory/shared_memory.h"
#include "platform/shared_memory/shm_test_support_posix.h"

namespace dovel::platform::shm_test {
namespace {

constexpr int kNames = 4;
constexpr int kChildren = 6;
constexpr int kMaxHoldsPerName = 2;
constexpr std::size_t kIdOffset = 0;
constexpr std::size_t kGenerationOffset = 8;
constexpr std::size_t kNonceOffset = 16;  // one 8-byte slot per child
constexpr std::size_t kScribbleOffset = 512;

// Announcement word: child bits, the drain bit, generation in the top half.
constexpr std::uint64_t kChildBits = (1u << kChildren) - 1;
constexpr std::uint64_t kDrainBit = 1u << 31;
constexpr std::uint64_t kGenerationOne = std::uint64_t{1} << 32;
constexpr std::uint64_t Generation(std::uint64_t word) { return word >> 32; }

enum Violation { kNewNotZero, kDeadBlockHandedOut, kSplitName, kAliveAfterDrain, kUnexpectedStatus, kViolationKinds };
constexpr std::array<const char*, kViolationKinds> kViolationNames{
    "new block not zero", "dead block handed out", "name split or missing while held",
    "block alive after all holders left", "unexpected status"};

// Lives in shared anonymous memory; lock-free std::atomic is address-free, so
// it works across processes.
struct Control {
  std::atomic<int> stop{0};
  std::array<std::atomic<std::uint64_t>, kNames> names{};
  // in_call[child]: inside a SharedMemory call; the parent prefers those as
  // victims, since a kill between two steps of the protocol is the test.
  std::array<std::atomic<int>, kChildren> in_call{};
  std::array<std::atomic<long>, kViolationKinds> violations{};
  std::atomic<long> created{0};
  std::atomic<long> opened{0};
  std::atomic<long> generation_checks{0};
  std::atomic<long> busy{0};      // opens and creates that gave 258
  std::atomic<long> deferred{0};  // closes left to the retry thread
  std::atomic<int> first_taken{0};
  char first[256]{};

  void Violate(Violation kind, const std::string& what) {
    violations[kind].fetch_add(1);
    if (first_taken.exchange(1) == 0) std::snprintf(first, sizeof first, "%s", what.c_str());
  }

  // The generation `slot` joined `name` in, or nothing while it is drained.
  std::optional<std::uint64_t> Announce(int name, int slot) {
    const std::uint64_t bit = std::uint64_t{1} << slot;
    std::uint64_t word = names[name].load();
    for (;;) {
      if ((word & kDrainBit) != 0) return std::nullopt;
      if ((word & bit) != 0 || names[name].compare_exchange_weak(word, word | bit)) return Generation(word);
    }
  }

  void Withdraw(int name, int slot) {
    const std::uint64_t bit = std::uint64_t{1} << slot;
    std::uint64_t word = names[name].load();
    for (;;) {
      if ((word & bit) == 0) return;
      std::uint64_t next = word & ~bit;
      if ((next & kChildBits) == 0) next += kGenerationOne;
      if (names[name].compare_exchange_weak(word, next)) return;
    }
  }
};

// splitmix64: spreads a seed and a counter over the whole state, never zero
// in practice, as xorshift needs.
std::uint64_t Mix(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15u;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
  value ^= value >> 31;
  return value != 0 ? value : 1;
}

struct Rng {
  std::uint64_t state;
  std::uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
};

std::atomic_ref<std::uint64_t> Word(std::byte* view, std::size_t offset) {
  return std::atomic_ref<std::uint64_t>(*reinterpret_cast<std::uint64_t*>(view + offset));
}

class InCall {
 public:
  explicit InCall(std::atomic<int>& flag) : flag_(flag) { flag_.store(1, std::memory_order_relaxed); }
  ~InCall() { flag_.store(0, std::memory_order_relaxed); }
  InCall(const InCall&) = delete;
  InCall& operator=(const InCall&) = delete;

 private:
  std::atomic<int>& flag_;
};

class Child {
 public:
  Child(Control& control, int slot, const std::array<std::string, kNames>& names, std::uint64_t seed)
      : control_(control), slot_(slot), names_(names), rng_{seed} {}

  void Run() {
    while (control_.stop.load() == 0) {
      for (int name = 0; name < kNames; ++name) {
        if ((control_.names[name].load() & kDrainBit) != 0) {
          LetGo(name);
        } else {
          Idle(name);  // a retried close may have finished meanwhile
        }
      }
      const int name = static_cast<int>(rng_.Below(kNames));
      const std::size_t roll = rng_.Below(20);
      if (roll < 5) {
        Acquire(name, true);
      } else if (roll < 8) {
        Acquire(name, false);
      } else if (roll < 15) {
        ReleaseOne();
      } else if (roll < 17) {
        Scribble();
      } else {
        UnmapOrphan();
      }
    }
    for (int name = 0; name < kNames; ++name) LetGo(name);
  }

 private:
  struct Held {
    BlockHandle handle;
    std::byte* view;
    int name;
  };
  struct Orphan {  // a view whose handle is closed; it still keeps the block
    std::byte* view;
    int name;
  };

  int Holds(int name) const {
    int count = 0;
    for (const Held& held : held_) count += held.name == name;
    for (const Orphan& orphan : orphans_) count += orphan.name == name;
    return count;
  }

  std::byte* AnyView(int name) const {
    for (const Held& held : held_) {
      if (held.name == name) return held.view;
    }
    for (const Orphan& orphan : orphans_) {
      if (orphan.name == name) return orphan.view;
    }
    return nullptr;
  }

  // A close waiting for its retry still holds its block, and which name it
  // was for does not matter here: any pending one keeps every bit.
  void Idle(int name) {
    if (Holds(name) == 0 && posix_block::PendingReleases() == 0) control_.Withdraw(name, slot_);
  }

  template <class Body>
  auto Call(Body body) {
    const InCall marker(control_.in_call[slot_]);
    return body();
  }
  void Close(BlockHandle handle) {
    const std::size_t pending = posix_block::PendingReleases();
    Call([&] { memory_.Close(handle); });
    if (posix_block::PendingReleases() > pending) control_.deferred.fetch_add(1);
  }
  void Unmap(std::byte* view) {
    const std::size_t pending = posix_block::PendingReleases();
    Call([&] { memory_.Unmap(view); });
    if (posix_block::PendingReleases() > pending) control_.deferred.fetch_add(1);
  }

  std::string Where(int name, const char* what) const { return names_[name] + ": " + what; }

  void Acquire(int name, bool create) {
    if (Holds(name) >= kMaxHoldsPerName) return;
    const std::optional<std::uint64_t> generation = control_.Announce(name, slot_);
    if (!generation) return;
    std::byte* existing = AnyView(name);
    const std::string& text = names_[name];
    const OpenResult result =
        Call([&] { return create ? memory_.CreateOrOpen(text, kBlockSize) : memory_.Open(text); });
    if (result.handle == 0) {
      if (result.status == SystemError::kWaitTimeout) {
        control_.busy.fetch_add(1);
      } else if (existing != nullptr) {
        control_.Violate(kSplitName, Where(name, "missing while held: ") + std::to_string(ErrorNumber(result.status)));
      } else if (create || result.status != SystemError::kFileNotFound) {
        control_.Violate(kUnexpectedStatus,
                         Where(name, "open/create failed: ") + std::to_string(ErrorNumber(result.status)));
      }
      return Idle(name);
    }
    if (existing != nullptr && !result.status && create) {
      control_.Violate(kSplitName, Where(name, "created anew while held"));
    }
    const MapResult mapped = memory_.Map(result.handle);
    if (mapped.view == nullptr) {
      control_.Violate(kUnexpectedStatus, Where(name, "map failed: ") + std::to_string(ErrorNumber(mapped.status)));
      Close(result.handle);
      return Idle(name);
    }
    if (create && !result.status) {
      control_.created.fetch_add(1);
      if (!AllZero(mapped.view, kBlockSize)) control_.Violate(kNewNotZero, Where(name, "dirty new block"));
      Word(mapped.view, kGenerationOffset).store(*generation);
      Word(mapped.view, kIdOffset).store(rng_.Next() | 1);
    } else {
      control_.opened.fetch_add(1);
      CheckGeneration(name, mapped.view, *generation);
    }
    if (existing != nullptr) CheckSameBlock(name, existing, mapped.view);
    held_.push_back({result.handle, mapped.view, name});
  }

  void CheckGeneration(int name, std::byte* view, std::uint64_t generation) {
    if (Word(view, kIdOffset).load() == 0) return;  // its creator died before stamping
    control_.generation_checks.fetch_add(1);
    const std::uint64_t born = Word(view, kGenerationOffset).load();
    if (born != generation) {
      control_.Violate(kDeadBlockHandedOut, Where(name, "block of generation ") + std::to_string(born) +
                                                " handed out in generation " + std::to_string(generation));
    }
  }

  void CheckSameBlock(int name, std::byte* old_view, std::byte* new_view) {
    const std::uint64_t old_id = Word(old_view, kIdOffset).load();
    const std::uint64_t new_id = Word(new_view, kIdOffset).load();
    if (old_id == 0 || new_id == 0) return;
    if (old_id != new_id) return control_.Violate(kSplitName, Where(name, "two blocks under one name"));
    const std::uint64_t nonce = rng_.Next();
    Word(old_view, kNonceOffset + 8 * slot_).store(nonce);
    if (Word(new_view, kNonceOffset + 8 * slot_).load() != nonce) {
      control_.Violate(kSplitName, Where(name, "views of one name do not share bytes"));
    }
  }

  void ReleaseOne() {
    if (held_.empty()) return;
    const std::size_t index = rng_.Below(held_.size());
    const Held held = held_[index];
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
    switch (rng_.Below(3)) {
      case 0:
        Unmap(held.view);
        Close(held.handle);
        break;
      case 1:
        Close(held.handle);
        Unmap(held.view);
        break;
      default:
        Close(held.handle);
        orphans_.push_back({held.view, held.name});
        break;
    }
    Idle(held.name);
  }

  void UnmapOrphan() {
    if (orphans_.empty()) return;
    const std::size_t index = rng_.Below(orphans_.size());
    const Orphan orphan = orphans_[index];
    orphans_.erase(orphans_.begin() + static_cast<std::ptrdiff_t>(index));
    Unmap(orphan.view);
    Idle(orphan.name);
  }

  void Scribble() {
    if (held_.empty()) return;
    std::byte* view = held_[rng_.Below(held_.size())].view;
    if (Word(view, kIdOffset).load() == 0) return;
    const std::uint64_t bytes = rng_.Next();
    std::memcpy(view + kScribbleOffset + rng_.Below(kBlockSize - kScribbleOffset - 8), &bytes, 8);
  }

  void LetGo(int name) {
    for (std::size_t i = held_.size(); i-- > 0;) {
      if (held_[i].name != name) continue;
      Close(held_[i].handle);
      Unmap(held_[i].view);
      held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    for (std::size_t i = orphans_.size(); i-- > 0;) {
      if (orphans_[i].name != name) continue;
      Unmap(orphans_[i].view);
      orphans_.erase(orphans_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    Idle(name);
  }

  Control& control_;
  const int slot_;
  const std::array<std::string, kNames>& names_;
  Rng rng_;
  SharedMemory& memory_ = CurrentSharedMemory();
  std::vector<Held> held_;
  std::vector<Orphan> orphans_;
};

int SoakSeconds() {
  const char* text = std::getenv("DOVEL_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 3;
}

std::uint64_t StressSeed() {
  if (const char* text = std::getenv("DOVEL_STRESS_SEED"); text != nullptr && *text != '\0') {
    return std::strtoull(text, nullptr, 10);
  }
  std::random_device device;
  return (std::uint64_t{device()} << 32) | device();
}

class Stress {
 public:
  explicit Stress(std::uint64_t seed) : seed_(seed) {
    void* shared = mmap(nullptr, sizeof(Control), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared != MAP_FAILED) control_ = new (shared) Control();
    for (int name = 0; name < kNames; ++name) names_[name] = UniqueName("stress" + std::to_string(name));
  }
  ~Stress() {
    for (int slot = 0; slot < kChildren; ++slot) Reap(slot, SIGKILL);
    if (control_ != nullptr) {
      control_->~Control();
      munmap(control_, sizeof(Control));
    }
  }

  bool ready() const { return control_ != nullptr; }
  const Control& control() const { return *control_; }
  void Stop() { control_->stop.store(1); }

  void Spawn(int slot) {
    const pid_t parent = getpid();
    // The n-th child of the run gets the same seed in a replay.
    const std::uint64_t child_seed = Mix(seed_ ^ Mix(++spawned_));
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(0);
      // Six busy children on a small machine would starve the parent's kill
      // loop; a lower priority keeps the kills coming every few milliseconds.
      if (nice(5) < 0) _exit(1);
      Child(*control_, slot, names_, child_seed).Run();
      _exit(0);
    }
    pids_[slot] = pid;
  }

  // Ends a child (signal 0: waits for it to stop by itself) and withdraws its
  // announcements: its handles died with it.
  void Reap(int slot, int signal) {
    if (pids_[slot] <= 0) return;
    if (signal != 0) kill(pids_[slot], signal);
    int status = 0;
    while (waitpid(pids_[slot], &status, 0) < 0 && errno == EINTR) {
    }
    pids_[slot] = -1;
    control_->in_call[slot].store(0);
    for (int name = 0; name < kNames; ++name) control_->Withdraw(name, slot);
  }

  // A child inside a library call if there is one, else any.
  int Victim(Rng& rng) const {
    const int start = static_cast<int>(rng.Below(kChildren));
    for (int i = 0; i < kChildren; ++i) {
      const int slot = (start + i) % kChildren;
      if (control_->in_call[slot].load(std::memory_order_relaxed) != 0) return slot;
    }
    return start;
  }

  void Replace(int slot) {
    Reap(slot, SIGKILL);
    Spawn(slot);
  }

  // Kills every holder of one name, which leaves its block stale, then keeps
  // killing among the children that rush in to clean it up. Returns the
  // number of kills.
  int Storm(int name, Rng& rng) {
    int kills = 0;
    for (int slot = 0; slot < kChildren; ++slot) {
      if ((control_->names[name].load() & (std::uint64_t{1} << slot)) != 0) {
        Replace(slot);
        ++kills;
      }
    }
    for (int burst = 0; burst < 4; ++burst, ++kills) Replace(Victim(rng));
    return kills;
  }

  // Bars one name and waits until no child holds it, killing one holder on
  // the way when `kill_one`. Then nothing may be left under the name. False
  // if the children never let go.
  bool Drain(int name, bool kill_one) {
    std::atomic<std::uint64_t>& word = control_->names[name];
    word.fetch_or(kDrainBit);
    if (kill_one) {
      for (int slot = 0; slot < kChildren; ++slot) {
        if ((word.load() & (std::uint64_t{1} << slot)) != 0) {
          Replace(slot);
          break;
        }
      }
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((word.load() & kChildBits) != 0) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    SharedMemory& memory = CurrentSharedMemory();
    const std::string& text = names_[name];
    const OpenResult opened = memory.Open(text);
    if (opened.handle != 0 || opened.status != SystemError::kFileNotFound) {
      control_->Violate(kAliveAfterDrain,
                        text + ": open after drain gave " + std::to_string(ErrorNumber(opened.status)));
      memory.Close(opened.handle);
    }
    const OpenResult created = memory.CreateOrOpen(text, kBlockSize);
    const MapResult mapped = memory.Map(created.handle);
    if (created.status || mapped.view == nullptr || !AllZero(mapped.view, kBlockSize)) {
      control_->Violate(kAliveAfterDrain,
                        text + ": create after drain gave " + std::to_string(ErrorNumber(created.status)));
    }
    memory.Unmap(mapped.view);
    memory.Close(created.handle);
    if (BackingExists(text)) control_->Violate(kAliveAfterDrain, text + ": last close left it");
    word.fetch_and(~kDrainBit);
    return true;
  }

 private:
  const std::uint64_t seed_;
  std::uint64_t spawned_ = 0;
  Control* control_ = nullptr;
  std::array<std::string, kNames> names_;
  std::array<pid_t, kChildren> pids_{};
};

TEST(SharedMemoryStress, KilledAndRacingProcessesKeepTheLifetimeRules) {
  const std::uint64_t seed = StressSeed();
  std::printf("stress seed: %llu\n", static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  Stress stress(seed);
  ASSERT_TRUE(stress.ready());
  Rng rng{Mix(seed)};
  for (int slot = 0; slot < kChildren; ++slot) stress.Spawn(slot);

  long rounds = 0;
  long kills = 0;
  long drains = 0;
  bool stuck = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(SoakSeconds());
  while (!stuck && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    stress.Replace(stress.Victim(rng));
    ++kills;
    ++rounds;
    if (rounds % 4 == 0) kills += stress.Storm(static_cast<int>(rng.Below(kNames)), rng);
    if (rounds % 8 == 0) {
      stuck = !stress.Drain(static_cast<int>(rng.Below(kNames)), rng.Below(2) == 0);
      drains += stuck ? 0 : 1;
    }
  }
  // Graceful end: children close everything they hold and exit.
  stress.Stop();
  for (int slot = 0; slot < kChildren; ++slot) stress.Reap(slot, 0);
  ASSERT_FALSE(stuck) << "children did not let go of a drained name";
  // Blocks left by killed children are stale; the drain's open removes them.
  for (int name = 0; name < kNames; ++name) ASSERT_TRUE(stress.Drain(name, false));

  const Control& control = stress.control();
  for (int kind = 0; kind < kViolationKinds; ++kind) {
    EXPECT_EQ(control.violations[kind].load(), 0) << kViolationNames[kind];
  }
  EXPECT_EQ(control.first_taken.load(), 0) << "first violation: " << control.first;
  EXPECT_THAT(ShmEntriesContaining(ProcessToken() + "stress"), ::testing::IsEmpty());
  // Guard against a run that raced nothing.
  long generations = 0;
  for (const auto& word : control.names) generations += static_cast<long>(Generation(word.load()));
  EXPECT_GT(control.created.load(), 0);
  EXPECT_GT(control.generation_checks.load(), 0);
  EXPECT_GT(generations, kNames);
  EXPECT_GT(kills, 10);
  EXPECT_GT(drains, 0);
  std::printf(
      "stress: %ld kills, %ld drains, %ld generations, %ld new blocks, %ld opens, %ld generation checks, "
      "%ld busy, %ld deferred closes\n",
      kills, drains, generations, control.created.load(), control.opened.load(), control.generation_checks.load(),
      control.busy.load(), control.deferred.load());
}

}  // namespace
}  // namespace dovel::platform::shm_test
