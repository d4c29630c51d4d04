#include "platform/loop/uv_timer.h"

#include <uv.h>

#include "platform/loop/loop_parts.h"
#include "platform/loop/uv_message_loop.h"
#include "platform/loop/uv_timer_slots.h"

namespace dovel::platform {

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
  loop_->slots_->Unschedule(*this);
  handle_->data = nullptr;
  // Closing also stops the handle, so a tick due in the same turn of the loop
  // is not delivered.
  uv_close(reinterpret_cast<uv_handle_t*>(handle_),
           [](uv_handle_t* handle) { delete reinterpret_cast<uv_timer_t*>(handle); });
  handle_ = nullptr;
  loop_ = nullptr;
}

void UvTimer::SettingsChanged() {
  if (handle_ == nullptr) return;
  if (Runs()) {
    Start(loop_->MillisecondsRoundedUp() + static_cast<std::uint64_t>(interval_));
  } else {
    Stop();
  }
  loop_->TimersChanged();
}

void UvTimer::Stop() {
  if (handle_started_) uv_timer_stop(handle_);
  handle_started_ = false;
  loop_->slots_->Unschedule(*this);
}

bool UvTimer::IsWaiting() const { return slot_due_ != kNotWaiting || handle_started_; }

void UvTimer::Start(std::uint64_t due) {
  Stop();
  due_ = due;
  if (static_cast<std::uint64_t>(interval_) >= UvTimerSlots::kCoalescedFrom) {
    // The idle timers of many queue objects share the thread's wake-ups
    // instead of each costing one.
    loop_->slots_->Schedule(*this, due);
    return;
  }
  // No repeat for libuv: it would re-insert the timer before the tick, and a
  // tick that re-arms its timer (the worker's does) would then pay twice.
  const std::uint64_t now = uv_now(loop_->loop_);
  uv_timer_start(handle_, &UvTimer::OnFire, due > now ? due - now : 0, 0);
  handle_started_ = true;
}

void UvTimer::OnFire(uv_timer_t* handle) {
  auto* self = static_cast<UvTimer*>(handle->data);
  if (self == nullptr) return;
  if (self->loop_->halted_) {
    // The run that reached this tick is returning: keep the tick for the next
    // run. A zero timeout would make libuv fire it again in this same pass.
    uv_timer_start(handle, &UvTimer::OnFire, 1, 0);
    return;
  }
  self->handle_started_ = false;  // libuv does not repeat it
  self->DeliverTick();
}

void UvTimer::DeliverTick() {
  // Worked out before the tick, from the loop's time of this pass, so that
  // the next due time lies ahead of it and libuv cannot fire the timer again
  // in the same pass.
  const std::uint64_t next =
      NextDueOnSchedule<std::uint64_t>(due_, static_cast<std::uint64_t>(interval_), uv_now(loop_->loop_));
  // The tick may destroy this timer; its handle lives on until the close
  // callback, with its data pointer cleared.
  uv_timer_t* const handle = handle_;
  const auto on_tick = on_tick_;
  if (*on_tick) loop_->RunWork(*on_tick);
  auto* self = static_cast<UvTimer*>(handle->data);
  if (self != nullptr && self->Runs() && !self->IsWaiting()) {
    self->Start(next);
    self->loop_->TimersChanged();
  }
}

}  // namespace dovel::platform
