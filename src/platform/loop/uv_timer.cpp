#include "platform/loop/uv_timer.h"

#include <uv.h>

#include "platform/loop/uv_message_loop.h"

namespace dovel::platform {

namespace {
// Timers of this interval or longer fall due on a grid as coarse as a
// Windows timer's resolution (about 15.6 ms).
constexpr std::uint64_t kCoalescedFrom = 100;
constexpr std::uint64_t kGridMs = 16;
}  // namespace

UvTimer::UvTimer(UvMessageLoop& loop, std::function<void()> on_tick)
    : loop_(&loop),
      handle_(new uv_timer_t),
      on_tick_(std::make_shared<const std::function<void()>>(std::move(on_tick))) {
  uv_timer_init(loop.loop_, handle_);  // cannot fail: it only links the handle
  handle_->data = this;
}

UvTimer::~UvTimer() { Detach(); }

void UvTimer::Detach() {
  if (handle_ == nullptr) return;
  handle_->data = nullptr;
  // Closing also stops the handle, so a tick due in the same turn of the loop
  // is not delivered.
  uv_close(reinterpret_cast<uv_handle_t*>(handle_),
           [](uv_handle_t* handle) { delete reinterpret_cast<uv_timer_t*>(handle); });
  handle_ = nullptr;
  loop_ = nullptr;
}

void UvTimer::SetInterval(std::int32_t milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  if (enabled_) Arm();
}

void UvTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Arm();
}

void UvTimer::Arm() {
  if (handle_ == nullptr) return;
  if (enabled_ && interval_ > 0) {
    // libuv counts the timeout from its cached loop time, which is stale when
    // the timer is armed late in a tick or while the loop is not being run;
    // adding the lag makes the countdown a full interval from now.
    Start(static_cast<std::uint64_t>(interval_) + loop_->MillisecondsBehind());
  } else {
    uv_timer_stop(handle_);
  }
  loop_->TimersChanged();
}

void UvTimer::Start(std::uint64_t timeout) {
  const auto interval = static_cast<std::uint64_t>(interval_);
  if (interval >= kCoalescedFrom) {
    // Never early, at most one grid step late: idle timers of many queue
    // objects then share the thread's wake-ups instead of each costing one.
    const std::uint64_t due = uv_now(loop_->loop_) + timeout;
    timeout += (kGridMs - due % kGridMs) % kGridMs;
  }
  // No repeat for libuv: it would re-insert the timer before the tick, and
  // a tick that re-arms its timer (the worker's does) would then pay for the
  // timer heap twice. OnFire repeats what the tick left running.
  uv_timer_start(handle_, &UvTimer::OnFire, timeout, 0);
}

void UvTimer::OnFire(uv_timer_t* handle) {
  auto* self = static_cast<UvTimer*>(handle->data);
  if (self == nullptr) return;
  UvMessageLoop& loop = *self->loop_;
  if (loop.halted_) {
    // The run that reached this tick is returning: keep the tick for the next
    // run. A zero timeout would make libuv fire it again in this same pass.
    uv_timer_start(handle, &UvTimer::OnFire, 1, 0);
    return;
  }
  const auto on_tick = self->on_tick_;
  if (*on_tick) loop.RunWork(*on_tick);
  // The tick may have destroyed the timer (the handle lives on until its
  // close callback), switched it off, or re-armed it. A timer it left
  // running counts its next period from this tick, as a repeating one does.
  self = static_cast<UvTimer*>(handle->data);
  if (self != nullptr && self->enabled_ && self->interval_ > 0 &&
      uv_is_active(reinterpret_cast<uv_handle_t*>(handle)) == 0) {
    self->Start(static_cast<std::uint64_t>(self->interval_));
    self->loop_->TimersChanged();
  }
}

}  // namespace dovel::platform
