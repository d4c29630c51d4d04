#pragma once

#include <array>
#include <memory>

#include "Dovel_h.h"
#include "com/cls_msg_queue.h"
#include "com/win32/com_queue_timer.h"
#include "platform/com_server/com_object.h"
#include "platform/com_server/connection_point.h"
#include "platform/com_server/dual_dispatch.h"

namespace dovel::com::win32 {

// The queue object as clients of the COM server see it: the dual interface
// _clsMsgQueue over the portable queue object, and its events through one
// connection point for __clsMsgQueue.
//
// Every creation makes a queue object with an engine of its own, on the
// server's apartment thread. The engine holds its queue object until
// UnloadQueue; a client that releases the object without unloading it leaves
// the queue (timers, lists, events) running, and the server with it, until
// the server process ends.
//
// Each timer property hands out one COM object per engine timer, made at the
// first read and kept for the queue object's life: every read gives the same
// object.
class ComMsgQueue final
    : public platform::com_server::DualDispatch<
          platform::com_server::ComObject<ComMsgQueue, _clsMsgQueue, IConnectionPointContainer, IProvideClassInfo>,
          _clsMsgQueue>,
      public platform::com_server::EventSource {
 public:
  ComMsgQueue();
  ~ComMsgQueue() override;

  bool AnswersAsPrimary(REFIID iid) const { return iid == IID_IDispatch; }

  // _clsMsgQueue
  [[nodiscard]] STDMETHODIMP put_Disconnecting(VARIANT_BOOL bVal) override;
  [[nodiscard]] STDMETHODIMP put_InactivityTimeout(SHORT iVal) override;
  [[nodiscard]] STDMETHODIMP put_PanelEventWarning(VARIANT_BOOL bVal) override;
  [[nodiscard]] STDMETHODIMP put_Unattended(VARIANT_BOOL bVal) override;
  [[nodiscard]] STDMETHODIMP InactivityComplete() override;
  [[nodiscard]] STDMETHODIMP get_DiagRefreshTimer(IDispatch** varVal) override;
  [[nodiscard]] STDMETHODIMP get_HeartbeatTimer(IDispatch** varVal) override;
  [[nodiscard]] STDMETHODIMP get_TimeoutTimer(IDispatch** varVal) override;
  [[nodiscard]] STDMETHODIMP get_WorkerTimer(IDispatch** varVal) override;
  [[nodiscard]] STDMETHODIMP get_WorkQueueGUID(BSTR* szVal) override;
  [[nodiscard]] STDMETHODIMP get_CurrentMsgGUID(BSTR* szVal) override;
  [[nodiscard]] STDMETHODIMP get_LastSentMsgGUID(BSTR* szVal) override;
  [[nodiscard]] STDMETHODIMP UnloadQueue() override;

  // IConnectionPointContainer
  [[nodiscard]] STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  [[nodiscard]] STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // IProvideClassInfo
  [[nodiscard]] STDMETHODIMP GetClassInfo(ITypeInfo** out) override;

  // EventSource: sinks live in the portable queue object, which delivers
  // each event to a snapshot of them; a sink whose client has died is
  // dropped at its first failed delivery.
  [[nodiscard]] HRESULT AdviseSink(platform::com_server::EventDelivery deliver, DWORD* cookie) override;
  [[nodiscard]] HRESULT UnadviseSink(DWORD cookie) override;

 private:
  using TimerGetter = std::error_code (clsMsgQueue::*)(std::shared_ptr<platform::Timer>&);
  using GuidGetter = std::error_code (clsMsgQueue::*)(std::u16string&);
  // The four timers, by their place in timers_.
  enum TimerSlot : std::size_t { kDiagRefresh, kHeartbeat, kTimeout, kWorker, kTimerSlots };
  [[nodiscard]] HRESULT GetTimer(TimerGetter getter, TimerSlot slot, IDispatch** out);
  [[nodiscard]] HRESULT GetGuid(GuidGetter getter, BSTR* out);

  std::shared_ptr<clsMsgQueue> queue_;
  std::array<platform::win32::ComPtr<ComQueueTimer>, kTimerSlots> timers_;
};

}  // namespace dovel::com::win32
