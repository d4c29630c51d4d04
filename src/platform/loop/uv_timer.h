#pragma once

#include <functional>
#include <memory>

#include "platform/loop/loop_parts.h"
#include "platform/loop/uv_timer_queue.h"

namespace dovel::platform {

// A Timer of the libuv loop: an entry in the loop's timer queue. It keeps the
// queue alive, so it may outlive the loop; the queue is closed then, and the
// timer only records its settings.
class UvTimer final : public TimerSettings {
 public:
  UvTimer(std::shared_ptr<UvTimerQueue> queue, std::function<void()> on_tick);
  ~UvTimer() override;
  UvTimer(const UvTimer&) = delete;
  UvTimer& operator=(const UvTimer&) = delete;

 private:
  void SettingsChanged() override;

  std::shared_ptr<UvTimerQueue> queue_;
  UvTimerQueue::Entry entry_;
};

}  // namespace dovel::platform
