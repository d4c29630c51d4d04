#include "com/win32/com_queue_timer.h"

namespace dovel::com::win32 {

ComQueueTimer::ComQueueTimer(std::shared_ptr<platform::Timer> timer)
    : timer_(std::move(timer)), loop_(platform::CurrentMessageLoop()) {}

ComQueueTimer::~ComQueueTimer() {
  // The engine usually still holds the timer; if not, it is destroyed where
  // it was made (or with its loop, when that thread has gone on to end it).
  if (!loop_.IsOwnThread()) loop_.Post([timer = std::move(timer_)] {});
}

STDMETHODIMP ComQueueTimer::get_Interval(LONG* lVal) {
  if (lVal == nullptr) return E_POINTER;
  if (!loop_.IsOwnThread()) return RPC_E_WRONG_THREAD;
  *lVal = timer_->Interval();
  return S_OK;
}

STDMETHODIMP ComQueueTimer::put_Interval(LONG lVal) {
  if (!loop_.IsOwnThread()) return RPC_E_WRONG_THREAD;
  timer_->SetInterval(lVal);
  return S_OK;
}

STDMETHODIMP ComQueueTimer::get_Enabled(VARIANT_BOOL* bVal) {
  if (bVal == nullptr) return E_POINTER;
  if (!loop_.IsOwnThread()) return RPC_E_WRONG_THREAD;
  *bVal = timer_->Enabled() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP ComQueueTimer::put_Enabled(VARIANT_BOOL bVal) {
  if (!loop_.IsOwnThread()) return RPC_E_WRONG_THREAD;
  timer_->SetEnabled(bVal != VARIANT_FALSE);
  return S_OK;
}

}  // namespace dovel::com::win32
