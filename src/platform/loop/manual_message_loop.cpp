#include "platform/loop/manual_message_loop.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/loop/loop_parts.h"

namespace dovel::platform {

class ManualMessageLoop::ManualTimer final : public TimerSettings {
 public:
  ManualTimer(ManualMessageLoop& loop, std::function<void()> on_tick)
      : loop_(&loop), on_tick_(std::make_shared<const std::function<void()>>(std::move(on_tick))) {}

  ~ManualTimer() override {
    if (loop_ != nullptr) std::erase(loop_->timers_, this);
  }

  bool Running() const { return loop_ != nullptr && Runs(); }
  std::int64_t due() const { return due_; }

 private:
  friend class ManualMessageLoop;

  // A stopped timer's due time is never read, so it is simply set afresh.
  void SettingsChanged() override {
    if (loop_ != nullptr) due_ = loop_->now_ + interval_;
  }

  ManualMessageLoop* loop_;
  // Shared so that a tick that destroys its own timer does not destroy the
  // callable while it is still running.
  std::shared_ptr<const std::function<void()>> on_tick_;
  std::int64_t due_ = 0;
};

ManualMessageLoop::ManualMessageLoop(SettableClock* clock)
    : clock_(clock), owner_(std::this_thread::get_id()) {}

ManualMessageLoop::~ManualMessageLoop() {
  for (ManualTimer* timer : timers_) timer->loop_ = nullptr;
}

std::unique_ptr<Timer> ManualMessageLoop::CreateTimer(std::function<void()> on_tick) {
  auto timer = std::make_unique<ManualTimer>(*this, std::move(on_tick));
  timers_.push_back(timer.get());
  return timer;
}

ManualMessageLoop::ManualTimer* ManualMessageLoop::NextDue(std::int64_t no_later_than) const {
  ManualTimer* next = nullptr;
  for (ManualTimer* timer : timers_) {
    if (!timer->Running() || timer->due() > no_later_than) continue;
    if (next == nullptr || timer->due() < next->due()) next = timer;
  }
  return next;
}

void ManualMessageLoop::MoveTimeTo(std::int64_t when) {
  if (when <= now_) return;
  if (clock_ != nullptr) clock_->AdvanceMilliseconds(when - now_);
  now_ = when;
}

void ManualMessageLoop::Tick(ManualTimer& timer) {
  MoveTimeTo(timer.due());
  // Anything the tick does to the timer overrides its schedule.
  timer.due_ = NextDueOnSchedule<std::int64_t>(timer.due_, timer.interval_, now_);
  const auto on_tick = timer.on_tick_;
  WorkScope scope(work_depth_);
  if (*on_tick) (*on_tick)();
}

void ManualMessageLoop::AdvanceMilliseconds(std::int64_t milliseconds) {
  const std::int64_t target = now_ + std::max<std::int64_t>(milliseconds, 0);
  if (work_depth_ == 0) {
    // A tick may itself move time on, past `target`.
    while (ManualTimer* next = NextDue(std::max(target, now_))) Tick(*next);
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
  while (ManualTimer* next = NextDue(now_)) Tick(*next);
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
    } else if (ManualTimer* next = NextDue(std::numeric_limits<std::int64_t>::max())) {
      Tick(*next);
    } else {
      return;
    }
    if (done && done()) return;
  }
}

void ManualMessageLoop::Stop() {
  if (running_) stop_requested_ = true;
}

bool ManualMessageLoop::IsOwnThread() const { return std::this_thread::get_id() == owner_; }

std::size_t ManualMessageLoop::RunningTimerCount() const {
  return static_cast<std::size_t>(
      std::count_if(timers_.begin(), timers_.end(), [](const ManualTimer* t) { return t->Running(); }));
}

std::int64_t ManualMessageLoop::MillisecondsToNextTick() const {
  const ManualTimer* next = NextDue(std::numeric_limits<std::int64_t>::max());
  if (next == nullptr) return -1;
  return std::max<std::int64_t>(next->due() - now_, 0);
}

std::size_t ManualMessageLoop::PostedCount() const {
  std::lock_guard lock(posted_mutex_);
  return posted_.size();
}

}  // namespace dovel::platform
