#pragma once

#include <memory>

#include "Dovel_h.h"
#include "platform/com_server/com_object.h"
#include "platform/com_server/dual_dispatch.h"
#include "platform/loop/message_loop.h"

namespace dovel::com::win32 {

// One of an engine's timers as an automation object: Interval and Enabled of
// the live timer, so a change applies to the engine at once. The queue
// object keeps one of these per timer and hands out that one at every read.
//
// Like the queue object, it belongs to the thread that made it (the engine's
// thread): a call from another thread is refused with RPC_E_WRONG_THREAD and
// never touches the timer; one ending on another thread lets go of the timer
// on its own thread.
class ComQueueTimer final
    : public platform::com_server::DualDispatch<platform::com_server::ComObject<ComQueueTimer, _QueueTimer>,
                                                _QueueTimer> {
 public:
  explicit ComQueueTimer(std::shared_ptr<platform::Timer> timer);
  ~ComQueueTimer() override;

  bool AnswersAsPrimary(REFIID iid) const { return iid == IID_IDispatch; }
  bool Wraps(const platform::Timer& timer) const { return timer_.get() == &timer; }

  [[nodiscard]] STDMETHODIMP get_Interval(LONG* lVal) override;
  [[nodiscard]] STDMETHODIMP put_Interval(LONG lVal) override;
  [[nodiscard]] STDMETHODIMP get_Enabled(VARIANT_BOOL* bVal) override;
  [[nodiscard]] STDMETHODIMP put_Enabled(VARIANT_BOOL bVal) override;

 private:
  std::shared_ptr<platform::Timer> timer_;
  platform::MessageLoop& loop_;
};

}  // namespace dovel::com::win32
