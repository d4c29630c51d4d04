#pragma once

#include <memory>

#include "Dovel_h.h"
#include "platform/com_server/com_object.h"
#include "platform/com_server/dual_dispatch.h"
#include "platform/loop/message_loop.h"

namespace dovel::com::win32 {

// One of an engine's timers as an automation object: Interval and Enabled of
// the live timer, so a change applies to the engine at once. Every get of a
// timer property makes a new one of these around the same timer.
class ComQueueTimer final
    : public platform::com_server::DualDispatch<platform::com_server::ComObject<ComQueueTimer, _QueueTimer>,
                                                _QueueTimer> {
 public:
  explicit ComQueueTimer(std::shared_ptr<platform::Timer> timer) : timer_(std::move(timer)) {}

  bool AnswersAsPrimary(REFIID iid) const { return iid == IID_IDispatch; }

  [[nodiscard]] STDMETHODIMP get_Interval(LONG* lVal) override;
  [[nodiscard]] STDMETHODIMP put_Interval(LONG lVal) override;
  [[nodiscard]] STDMETHODIMP get_Enabled(VARIANT_BOOL* bVal) override;
  [[nodiscard]] STDMETHODIMP put_Enabled(VARIANT_BOOL bVal) override;

 private:
  std::shared_ptr<platform::Timer> timer_;
};

}  // namespace dovel::com::win32
