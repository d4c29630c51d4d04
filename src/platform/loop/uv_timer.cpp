#include "platform/loop/uv_timer.h"

#include <utility>

namespace dovel::platform {

UvTimer::UvTimer(std::shared_ptr<UvTimerQueue> queue, std::function<void()> on_tick)
    : queue_(std::move(queue)), entry_(std::move(on_tick)) {}

UvTimer::~UvTimer() { queue_->Forget(entry_); }

void UvTimer::SettingsChanged() {
  if (Runs()) {
    queue_->Start(entry_, interval_);
  } else {
    queue_->Stop(entry_);
  }
}

}  // namespace dovel::platform
