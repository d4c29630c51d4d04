#include "com/win32/com_queue_timer.h"

namespace dovel::com::win32 {

STDMETHODIMP ComQueueTimer::get_Interval(LONG* lVal) {
  if (lVal == nullptr) return E_POINTER;
  *lVal = timer_->Interval();
  return S_OK;
}

STDMETHODIMP ComQueueTimer::put_Interval(LONG lVal) {
  timer_->SetInterval(lVal);
  return S_OK;
}

STDMETHODIMP ComQueueTimer::get_Enabled(VARIANT_BOOL* bVal) {
  if (bVal == nullptr) return E_POINTER;
  *bVal = timer_->Enabled() ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP ComQueueTimer::put_Enabled(VARIANT_BOOL bVal) {
  timer_->SetEnabled(bVal != VARIANT_FALSE);
  return S_OK;
}

}  // namespace dovel::com::win32
