#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "com/cls_msg_queue.h"
#include "platform/automation/dispatch.h"

namespace dovel::com {

// The queue object for late-bound callers: members by name or by dispatch
// identifier (the table in dispatch_ids.h), values as automation variants.
// Switches take any numeric value and count it as True when it is not 0;
// the timer properties return objects with Interval and Enabled.
class QueueDispatch final : public platform::automation::Dispatch {
 public:
  explicit QueueDispatch(std::shared_ptr<clsMsgQueue> queue) : queue_(std::move(queue)) {}

  [[nodiscard]] std::error_code PutProperty(std::u16string_view name,
                                            const platform::automation::Variant& value) override;
  [[nodiscard]] std::error_code GetProperty(std::u16string_view name, platform::automation::Variant& result) override;
  [[nodiscard]] std::error_code Call(std::u16string_view name, std::span<platform::automation::Variant> args,
                                     platform::automation::Variant* result) override;

  // The name of a member's dispatch identifier, or empty when none has it.
  static std::u16string_view NameOf(std::int32_t dispid);

 private:
  std::shared_ptr<clsMsgQueue> queue_;
};

// One of the engine's timers as an automation object.
class TimerDispatch final : public platform::automation::Dispatch {
 public:
  explicit TimerDispatch(std::shared_ptr<platform::Timer> timer) : timer_(std::move(timer)) {}

  [[nodiscard]] std::error_code PutProperty(std::u16string_view name,
                                            const platform::automation::Variant& value) override;
  [[nodiscard]] std::error_code GetProperty(std::u16string_view name, platform::automation::Variant& result) override;
  [[nodiscard]] std::error_code Call(std::u16string_view name, std::span<platform::automation::Variant> args,
                                     platform::automation::Variant* result) override;

 private:
  std::shared_ptr<platform::Timer> timer_;
};

}  // namespace dovel::com
