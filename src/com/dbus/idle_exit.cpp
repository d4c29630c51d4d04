#include "com/dbus/idle_exit.h"

#include <algorithm>

namespace dovel::com::dbus {

IdleExit::IdleExit(platform::MessageLoop& loop, std::int32_t grace_ms, std::function<void()> on_expiry)
    : grace_ms_(std::max<std::int32_t>(grace_ms, 1)), on_expiry_(std::move(on_expiry)) {
  timer_ = loop.CreateTimer([this] {
    timer_->SetEnabled(false);
    on_expiry_();
  });
  timer_->SetInterval(grace_ms_);
}

void IdleExit::ObjectsChanged(std::size_t live) {
  // Enabling a running countdown leaves it running: idle since it started.
  timer_->SetEnabled(live == 0);
}

}  // namespace dovel::com::dbus
