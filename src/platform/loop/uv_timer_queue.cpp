#include "platform/loop/uv_timer_queue.h"

#include <uv.h>

#include <algorithm>
#include <climits>
#include <cstddef>

#include "platform/loop/loop_parts.h"

namespace dovel::platform {
namespace {

// Enough for the slots one wake-up delivers: their timers, armed again, fill
// as many new slots a period on.
constexpr std::size_t kMaxSpareSlots = 16;

}  // namespace

UvTimerQueue::UvTimerQueue(uv_loop_t& loop, Runner& runner)
    : loop_(&loop), runner_(&runner), wake_up_(OpenUvTimer(loop)) {
  wake_up_->data = this;
}

std::uint64_t UvTimerQueue::NowMs() { return uv_hrtime() / 1'000'000; }

std::uint64_t UvTimerQueue::NowMsRoundedUp() { return (uv_hrtime() + 999'999) / 1'000'000; }

void UvTimerQueue::Start(Entry& entry, std::int32_t interval) {
  if (closed_) return;
  Stop(entry);
  entry.interval = interval;
  entry.due = NowMsRoundedUp() + static_cast<std::uint64_t>(interval);
  Schedule(entry, entry.due);
}

void UvTimerQueue::Stop(Entry& entry) {
  if (closed_) return;
  const std::uint64_t key = std::exchange(entry.slot, kNotWaiting);
  if (key == kNotWaiting || key == kDelivering) return;
  if (key == kFiring) {
    std::replace(firing_.begin() + static_cast<std::ptrdiff_t>(firing_next_), firing_.end(), &entry,
                 static_cast<Entry*>(nullptr));
    return;
  }
  const auto slot = slots_.find(key);
  if (slot == slots_.end()) return;
  std::erase(slot->second.entries, &entry);
  if (!slot->second.entries.empty()) return;
  if (spare_slots_.size() < kMaxSpareSlots) {
    spare_slots_.push_back(slots_.extract(slot));
  } else {
    slots_.erase(slot);
  }
  // The wake-up may now come for nothing, or a little later than the slots
  // left need; either way within their slack, and it arms again.
}

void UvTimerQueue::Forget(Entry& entry) {
  Stop(entry);
  if (delivering_ == &entry) delivering_ = nullptr;
}

void UvTimerQueue::Schedule(Entry& entry, std::uint64_t key) {
  auto slot = slots_.lower_bound(key);
  if (slot == slots_.end() || slot->first != key) {
    if (spare_slots_.empty()) {
      slot = slots_.emplace_hint(slot, key, Slot{});
    } else {
      Slots::node_type node = std::move(spare_slots_.back());
      spare_slots_.pop_back();
      node.key() = key;
      node.mapped().slack = kMaxSlackMs;
      slot = slots_.insert(slot, std::move(node));
    }
  }
  slot->second.entries.push_back(&entry);
  slot->second.slack = std::min(slot->second.slack, SlackFor(entry.interval));
  entry.slot = key;
  // A pass delivering ticks arms once it is done.
  if (in_fire_) return;
  // Sooner than the armed wake-up: it would come too late. Within the slack
  // of the slots it serves: it can wait for this one too. Beyond: no change.
  if (key < armed_.due || (key > armed_.due && key <= armed_.latest)) ArmWakeUp();
}

UvTimerQueue::WakeUp UvTimerQueue::NextWakeUp() const {
  auto slot = slots_.begin();
  WakeUp wake{slot->first, slot->first + slot->second.slack};
  for (++slot; slot != slots_.end() && slot->first <= wake.latest; ++slot) {
    wake.due = slot->first;
    wake.latest = std::min(wake.latest, slot->first + slot->second.slack);
  }
  return wake;
}

void UvTimerQueue::ArmWakeUp() {
  if (slots_.empty()) {
    armed_ = {kUnarmed, kUnarmed};
    ExpectUvSuccess(uv_timer_stop(wake_up_.get()), "uv_timer_stop");
    return;
  }
  armed_ = NextWakeUp();
  // Armed in libuv's time, which lags the clock the slots count in by less
  // than a millisecond, so the wake-up never comes early. Slots already due
  // are left only by a run that is returning; a zero timeout would make
  // libuv fire the wake-up again in this same pass, for ever, so they wait a
  // millisecond, or for WakeIfDue at the start of the next run.
  const std::uint64_t now = uv_now(loop_);
  ExpectUvSuccess(uv_timer_start(wake_up_.get(), &UvTimerQueue::OnFire, armed_.due > now ? armed_.due - now : 1, 0),
                  "uv_timer_start");
}

void UvTimerQueue::WakeIfDue() {
  if (closed_ || slots_.empty() || slots_.begin()->first > NowMs()) return;
  // Outside a pass a zero timeout fires once, in the pass about to start.
  ExpectUvSuccess(uv_timer_start(wake_up_.get(), &UvTimerQueue::OnFire, 0, 0), "uv_timer_start");
  armed_ = {slots_.begin()->first, slots_.begin()->first};
}

int UvTimerQueue::TimeUntilDue() const {
  if (closed_) return -1;
  for (std::size_t i = firing_next_; i < firing_.size(); ++i) {
    if (firing_[i] != nullptr) return 0;
  }
  if (slots_.empty()) return -1;
  const std::uint64_t now = NowMs();
  if (slots_.begin()->first <= now) return 0;
  return static_cast<int>(std::min<std::uint64_t>(NextWakeUp().due - now, INT_MAX));
}

void UvTimerQueue::OnFire(uv_timer_t* handle) { static_cast<UvTimerQueue*>(handle->data)->Fire(); }

void UvTimerQueue::Fire() {
  in_fire_ = true;
  // The same moment for every slot of this pass, so that a tick re-armed in
  // it is due after it and waits for the next wake-up.
  const std::uint64_t now = NowMs();
  while (!slots_.empty() && slots_.begin()->first <= now && runner_->MayRunTick()) {
    Slots::node_type node = slots_.extract(slots_.begin());
    const std::uint64_t key = node.key();
    firing_.swap(node.mapped().entries);
    if (spare_slots_.size() < kMaxSpareSlots) spare_slots_.push_back(std::move(node));
    for (Entry* entry : firing_) entry->slot = kFiring;
    for (firing_next_ = 0; firing_next_ < firing_.size(); ++firing_next_) {
      Entry* const entry = std::exchange(firing_[firing_next_], nullptr);
      if (entry == nullptr) continue;
      entry->slot = kNotWaiting;
      if (!runner_->MayRunTick()) {
        // The run is returning: the rest of the slot waits for the next run,
        // first in line as before, keeping the due time its next period
        // counts from.
        Schedule(*entry, key);
        continue;
      }
      Deliver(*entry, now);
    }
    firing_.clear();
    firing_next_ = 0;
  }
  in_fire_ = false;
  ArmWakeUp();
}

void UvTimerQueue::Deliver(Entry& entry, std::uint64_t now) {
  const std::uint64_t next =
      NextDueOnSchedule<std::uint64_t>(entry.due, static_cast<std::uint64_t>(entry.interval), now);
  entry.slot = kDelivering;
  delivering_ = &entry;
  const auto tick = entry.tick;
  if (*tick) runner_->RunTick(*tick);
  // Null when the tick destroyed the timer; not delivering when it stopped or
  // restarted it.
  if (std::exchange(delivering_, nullptr) == nullptr || entry.slot != kDelivering) return;
  entry.due = next;
  Schedule(entry, next);
}

void UvTimerQueue::Close() {
  closed_ = true;
  slots_.clear();
  spare_slots_.clear();
  firing_.clear();
  wake_up_.reset();
  runner_ = nullptr;
}

}  // namespace dovel::platform
