#include "platform/loop/uv_timer_slots.h"

#include <uv.h>

#include <algorithm>
#include <utility>

#include "platform/loop/uv_message_loop.h"
#include "platform/loop/uv_timer.h"

namespace dovel::platform {
UvTimerSlots::UvTimerSlots(UvMessageLoop& loop) : loop_(loop), handle_(new uv_timer_t) {
  uv_timer_init(loop.loop_, handle_);
  handle_->data = this;
  // The shared timer must not keep a run alive on its own: the timers in
  // the slots are what a run waits for, and they count through their own
  // (unused but referenced) handles.
  uv_unref(reinterpret_cast<uv_handle_t*>(handle_));
}

void UvTimerSlots::Schedule(UvTimer& timer, std::uint64_t due) {
  Slot& slot = slots_[due];
  slot.timers.push_back(&timer);
  slot.slack = std::min(slot.slack, SlackFor(timer.Interval()));
  timer.slot_due_ = due;
  // Sooner than the armed wake-up: it would come too late. Within the slack
  // of the slots it serves: it can wait for this one too. Beyond: no change.
  if (due < armed_due_ || (due > armed_due_ && due <= armed_latest_)) ArmHandle();
}

void UvTimerSlots::Unschedule(UvTimer& timer) {
  if (timer.slot_due_ == UvTimer::kNotWaiting) return;
  if (timer.slot_due_ == UvTimer::kFiring) {
    std::replace(firing_.begin(), firing_.end(), &timer, static_cast<UvTimer*>(nullptr));
  } else if (const auto slot = slots_.find(timer.slot_due_); slot != slots_.end()) {
    std::erase(slot->second.timers, &timer);
    if (slot->second.timers.empty()) slots_.erase(slot);
  }
  // The shared timer may now wake up for nothing; it then re-arms itself.
  timer.slot_due_ = UvTimer::kNotWaiting;
}

void UvTimerSlots::OnFire(uv_timer_t* handle) { static_cast<UvTimerSlots*>(handle->data)->Fire(); }

void UvTimerSlots::Fire() {
  armed_due_ = kUnarmed;
  const std::uint64_t now = uv_now(loop_.loop_);
  while (!slots_.empty() && slots_.begin()->first <= now && !loop_.halted_) {
    firing_ = std::move(slots_.begin()->second.timers);
    slots_.erase(slots_.begin());
    for (UvTimer* timer : firing_) {
      if (timer != nullptr) timer->slot_due_ = UvTimer::kFiring;
    }
    for (std::size_t i = 0; i < firing_.size(); ++i) {
      UvTimer* timer = std::exchange(firing_[i], nullptr);
      if (timer == nullptr) continue;
      timer->slot_due_ = UvTimer::kNotWaiting;
      if (loop_.halted_) {
        // The run is returning: the rest of the slot waits for the next run,
        // keeping the due time its next period counts from.
        Schedule(*timer, now + 1);
        continue;
      }
      timer->DeliverTick();
    }
    firing_.clear();
  }
  ArmHandle();
}

void UvTimerSlots::SetWakeTime() {
  auto slot = slots_.begin();
  armed_due_ = slot->first;
  armed_latest_ = slot->first + slot->second.slack;
  for (++slot; slot != slots_.end() && slot->first <= armed_latest_; ++slot) {
    armed_due_ = slot->first;
    armed_latest_ = std::min(armed_latest_, slot->first + slot->second.slack);
  }
}

void UvTimerSlots::ArmHandle() {
  if (uv_is_closing(reinterpret_cast<uv_handle_t*>(handle_)) != 0) return;
  if (slots_.empty()) {
    uv_timer_stop(handle_);
    armed_due_ = kUnarmed;
    return;
  }
  SetWakeTime();
  // Slots already due are left only by a run that is returning (or by a pass
  // still delivering, which arms again when it is done). A zero timeout would
  // make libuv fire the shared timer again in this same pass, for ever.
  const std::uint64_t now = uv_now(loop_.loop_);
  uv_timer_start(handle_, &UvTimerSlots::OnFire, armed_due_ > now ? armed_due_ - now : 1, 0);
}

}  // namespace dovel::platform
