#include "platform/loop/manual_message_loop.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "platform/loop/loop_parts.h"

namespace dovel::platform {

// The timers of one manual loop, in creation order, which breaks ties
// between ticks due together, and the virtual time they count in. The loop
// and its timers share it; once the loop is gone it is closed, and its
// timers only record their settings.
class ManualTimerQueue {
 public:
  struct Entry {
    explicit Entry(std::function<void()> on_tick)
        : tick(std::make_shared<const std::function<void()>>(std::move(on_tick))) {}

    // Shared so that a tick that destroys its own timer does not destroy the
    // callable while it is still running.
    std::shared_ptr<const std::function<void()>> tick;
    // 0 while the timer is not running.
    std::int32_t interval = 0;
    std::int64_t due = 0;
  };

  void Add(Entry& entry) {
    if (!closed_) entries_.push_back(&entry);
  }
  void Remove(Entry& entry) { std::erase(entries_, &entry); }

  // A fresh countdown of `interval`, or none at 0.
  void Restart(Entry& entry, std::int32_t interval) {
    if (closed_) return;
    entry.interval = interval;
    entry.due = now_ + interval;
  }

  // The running timer due first, and no later than `no_later_than`.
  Entry* NextDue(std::int64_t no_later_than) const {
    Entry* next = nullptr;
    for (Entry* entry : entries_) {
      if (entry->interval <= 0 || entry->due > no_later_than) continue;
      if (next == nullptr || entry->due < next->due) next = entry;
    }
    return next;
  }

  // The tick of `entry`, now due; its next one is due on its schedule, which
  // anything the tick does to the timer overrides.
  std::shared_ptr<const std::function<void()>> TakeTick(Entry& entry) const {
    entry.due = NextDueOnSchedule<std::int64_t>(entry.due, entry.interval, now_);
    return entry.tick;
  }

  std::int64_t now() const { return now_; }
  void set_now(std::int64_t now) { now_ = now; }
  std::size_t size() const { return entries_.size(); }
  std::size_t running() const {
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const Entry* e) { return e->interval > 0; }));
  }

  void Close() {
    closed_ = true;
    entries_.clear();
  }

 private:
  std::vector<Entry*> entries_;
  std::int64_t now_ = 0;
  bool closed_ = false;
};

namespace {

class ManualTimer final : public TimerSettings {
 public:
  ManualTimer(std::shared_ptr<ManualTimerQueue> queue, std::function<void()> on_tick)
      : queue_(std::move(queue)), entry_(std::move(on_tick)) {
    queue_->Add(entry_);
  }
  ~ManualTimer() override { queue_->Remove(entry_); }
  ManualTimer(const ManualTimer&) = delete;
  ManualTimer& operator=(const ManualTimer&) = delete;

 private:
  // A stopped timer's due time is never read, so it is simply set afresh.
  void SettingsChanged() override { queue_->Restart(entry_, Runs() ? interval_ : 0); }

  const std::shared_ptr<ManualTimerQueue> queue_;
  ManualTimerQueue::Entry entry_;
};

}  // namespace

ManualMessageLoop::ManualMessageLoop(SettableClock* clock)
    : clock_(clock), owner_(std::this_thread::get_id()), timers_(std::make_shared<ManualTimerQueue>()) {}

ManualMessageLoop::~ManualMessageLoop() { timers_->Close(); }

std::unique_ptr<Timer> ManualMessageLoop::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<ManualTimer>(timers_, std::move(on_tick));
}

std::int64_t ManualMessageLoop::Now() const { return timers_->now(); }

void ManualMessageLoop::MoveTimeTo(std::int64_t when) {
  const std::int64_t now = timers_->now();
  if (when <= now) return;
  if (clock_ != nullptr) clock_->AdvanceMilliseconds(when - now);
  timers_->set_now(when);
}

bool ManualMessageLoop::TickDue(std::int64_t no_later_than) {
  ManualTimerQueue::Entry* const next = timers_->NextDue(no_later_than);
  if (next == nullptr) return false;
  MoveTimeTo(next->due);
  const auto on_tick = timers_->TakeTick(*next);
  WorkScope scope(work_depth_);
  if (*on_tick) (*on_tick)();
  return true;
}

void ManualMessageLoop::AdvanceMilliseconds(std::int64_t milliseconds) {
  const std::int64_t target = Now() + std::max<std::int64_t>(milliseconds, 0);
  if (work_depth_ == 0) {
    // A tick may itself move time on, past `target`.
    while (TickDue(std::max(target, Now()))) {
    }
  }
  MoveTimeTo(target);
}

void ManualMessageLoop::Post(std::function<void()> work) {
  if (!work) return;
  std::lock_guard lock(posted_mutex_);
  posted_.push_back(std::move(work));
}

std::function<void()> ManualMessageLoop::TakePosted() {
  std::lock_guard lock(posted_mutex_);
  if (posted_.empty()) return {};
  std::function<void()> work = std::move(posted_.front());
  posted_.pop_front();
  return work;
}

void ManualMessageLoop::RunOne(const std::function<void()>& work) {
  WorkScope scope(work_depth_);
  work();
}

std::size_t ManualMessageLoop::RunPosted() {
  if (work_depth_ > 0) return 0;
  std::size_t ran = 0;
  while (const std::function<void()> work = TakePosted()) {
    RunOne(work);
    ++ran;
  }
  return ran;
}

void ManualMessageLoop::RunDue() {
  if (work_depth_ > 0) return;
  RunPosted();
  while (TickDue(Now())) {
  }
}

void ManualMessageLoop::Run() { RunUntil(nullptr); }

void ManualMessageLoop::RunUntil(const std::function<bool()>& done) {
  if (work_depth_ > 0 || running_) return;
  if (done && done()) return;
  running_ = true;
  stop_requested_ = false;
  struct Reset {
    ManualMessageLoop& loop;
    ~Reset() {
      loop.running_ = false;
      loop.stop_requested_ = false;
    }
  } reset{*this};
  while (!stop_requested_) {
    if (const std::function<void()> work = TakePosted()) {
      RunOne(work);
    } else if (!TickDue(std::numeric_limits<std::int64_t>::max())) {
      return;
    }
    if (done && done()) return;
  }
}

void ManualMessageLoop::Stop() {
  if (running_) stop_requested_ = true;
}

bool ManualMessageLoop::IsOwnThread() const { return std::this_thread::get_id() == owner_; }

std::size_t ManualMessageLoop::TimerCount() const { return timers_->size(); }

std::size_t ManualMessageLoop::RunningTimerCount() const { return timers_->running(); }

int ManualMessageLoop::TimeUntilDue() const {
  const ManualTimerQueue::Entry* next = timers_->NextDue(std::numeric_limits<std::int64_t>::max());
  if (next == nullptr) return kNoTickDue;
  // Never more than an interval, which an int holds.
  return static_cast<int>(std::max<std::int64_t>(next->due - timers_->now(), 0));
}

std::size_t ManualMessageLoop::PostedCount() const {
  std::lock_guard lock(posted_mutex_);
  return posted_.size();
}

}  // namespace dovel::platform
