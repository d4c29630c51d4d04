#include "com/win32/com_msg_queue.h"

#include <olectl.h>

#include <system_error>

#include "platform/automation/com_values_win32.h"
#include "platform/com_server/server_lifetime.h"
#include "platform/com_server/type_library.h"
#include "platform/core/error_codes.h"

namespace dovel::com::win32 {
namespace {

bool IsTrue(VARIANT_BOOL value) { return value != VARIANT_FALSE; }

}  // namespace

ComMsgQueue::ComMsgQueue() : queue_(clsMsgQueue::New()) {}

ComMsgQueue::~ComMsgQueue() {
  const std::weak_ptr<clsMsgQueue> watch = queue_;
  queue_.reset();
  // Still held by its engine: the client never unloaded it. It goes on
  // running, and keeps the server, until the process ends.
  if (!watch.expired()) platform::com_server::ServerLifetime::Lock();
}

STDMETHODIMP ComMsgQueue::put_Disconnecting(VARIANT_BOOL bVal) {
  return ErrorNumber(queue_->put_Disconnecting(IsTrue(bVal)));
}

STDMETHODIMP ComMsgQueue::put_InactivityTimeout(SHORT iVal) { return ErrorNumber(queue_->put_InactivityTimeout(iVal)); }

STDMETHODIMP ComMsgQueue::put_PanelEventWarning(VARIANT_BOOL bVal) {
  return ErrorNumber(queue_->put_PanelEventWarning(IsTrue(bVal)));
}

STDMETHODIMP ComMsgQueue::put_Unattended(VARIANT_BOOL bVal) {
  return ErrorNumber(queue_->put_Unattended(IsTrue(bVal)));
}

STDMETHODIMP ComMsgQueue::InactivityComplete() { return ErrorNumber(queue_->InactivityComplete()); }

HRESULT ComMsgQueue::GetTimer(TimerGetter getter, TimerSlot slot, IDispatch** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::shared_ptr<platform::Timer> timer;
  if (const std::error_code status = ((*queue_).*getter)(timer)) return ErrorNumber(status);
  // An inert object has no timers: success, and no object.
  if (timer == nullptr) return S_OK;
  platform::win32::ComPtr<ComQueueTimer>& object = timers_[slot];
  // An engine keeps its timers for its whole life; a different one would
  // be a new timer, and gets a new object.
  if (!object || !object->Wraps(*timer)) {
    platform::win32::ComPtr<ComQueueTimer> made = ComQueueTimer::Create(std::move(timer));
    if (!made) return E_OUTOFMEMORY;
    object = std::move(made);
  }
  *out = object.Share().detach();
  return S_OK;
}

STDMETHODIMP ComMsgQueue::get_DiagRefreshTimer(IDispatch** varVal) {
  return GetTimer(&clsMsgQueue::get_DiagRefreshTimer, kDiagRefresh, varVal);
}

STDMETHODIMP ComMsgQueue::get_HeartbeatTimer(IDispatch** varVal) {
  return GetTimer(&clsMsgQueue::get_HeartbeatTimer, kHeartbeat, varVal);
}

STDMETHODIMP ComMsgQueue::get_TimeoutTimer(IDispatch** varVal) {
  return GetTimer(&clsMsgQueue::get_TimeoutTimer, kTimeout, varVal);
}

STDMETHODIMP ComMsgQueue::get_WorkerTimer(IDispatch** varVal) {
  return GetTimer(&clsMsgQueue::get_WorkerTimer, kWorker, varVal);
}

HRESULT ComMsgQueue::GetGuid(GuidGetter getter, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::u16string guid;
  if (const std::error_code status = ((*queue_).*getter)(guid)) return ErrorNumber(status);
  platform::win32::Bstr text = platform::win32::Bstr::Copy(guid);
  if (!text) return E_OUTOFMEMORY;
  *out = text.detach();
  return S_OK;
}

STDMETHODIMP ComMsgQueue::get_WorkQueueGUID(BSTR* szVal) { return GetGuid(&clsMsgQueue::get_WorkQueueGUID, szVal); }

STDMETHODIMP ComMsgQueue::get_CurrentMsgGUID(BSTR* szVal) { return GetGuid(&clsMsgQueue::get_CurrentMsgGUID, szVal); }

STDMETHODIMP ComMsgQueue::get_LastSentMsgGUID(BSTR* szVal) { return GetGuid(&clsMsgQueue::get_LastSentMsgGUID, szVal); }

STDMETHODIMP ComMsgQueue::UnloadQueue() { return ErrorNumber(queue_->UnloadQueue()); }

STDMETHODIMP ComMsgQueue::EnumConnectionPoints(IEnumConnectionPoints** out) {
  return platform::com_server::EnumConnectionPoints(this, DIID___clsMsgQueue, *this, out);
}

STDMETHODIMP ComMsgQueue::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  return platform::com_server::FindConnectionPoint(this, DIID___clsMsgQueue, *this, iid, out);
}

STDMETHODIMP ComMsgQueue::GetClassInfo(ITypeInfo** out) {
  return platform::com_server::ModuleTypeInfo(CLSID_clsMsgQueue, out);
}

HRESULT ComMsgQueue::AdviseSink(platform::com_server::EventDelivery deliver, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  // The sink is dropped from inside its own failed delivery, by the cookie
  // it is about to be given.
  auto own_cookie = std::make_shared<std::uint32_t>(0);
  std::weak_ptr<clsMsgQueue> queue = queue_;
  std::uint32_t given = 0;
  const std::error_code status = queue_->Advise(
      [deliver = std::move(deliver), own_cookie, queue](QueueEvent event) {
        if (deliver(static_cast<DISPID>(event))) return;
        // A sink already gone is just as good.
        if (const auto alive = queue.lock()) static_cast<void>(alive->Unadvise(*own_cookie));
      },
      given);
  *own_cookie = given;
  *cookie = given;
  return ErrorNumber(status);
}

HRESULT ComMsgQueue::UnadviseSink(DWORD cookie) { return ErrorNumber(queue_->Unadvise(cookie)); }

}  // namespace dovel::com::win32
