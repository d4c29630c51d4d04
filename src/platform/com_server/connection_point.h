#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>

#include "platform/automation/com_ptr_win32.h"
#include "platform/com_server/com_object.h"

namespace dovel::platform::com_server {

// Delivers one event (a dispatch identifier, no arguments) to one sink.
// Returns false when the sink's process has gone: the caller drops it.
using EventDelivery = std::function<bool(DISPID)>;

// Where the connected sinks are kept: the event source itself, which also
// decides the order of delivery and what a handler may do during one.
class EventSource {
 public:
  virtual ~EventSource() = default;
  [[nodiscard]] virtual HRESULT AdviseSink(EventDelivery deliver, DWORD* cookie) = 0;
  [[nodiscard]] virtual HRESULT UnadviseSink(DWORD cookie) = 0;
};

// True for the failures that say the other side of a call is gone for good
// (its process died or disconnected its objects), not that it is busy.
[[nodiscard]] bool IsPeerGone(HRESULT hr);

// The connection point of one event interface, a COM object of its own. It
// holds its container, so it stays valid while a client holds it; the
// container makes a new one whenever one is asked for, so there is no cycle.
class ConnectionPoint final : public ComObject<ConnectionPoint, IConnectionPoint> {
 public:
  // `container` also owns `source`; it is kept with a reference.
  ConnectionPoint(IConnectionPointContainer* container, REFIID event_iid, EventSource& source);

  [[nodiscard]] STDMETHODIMP GetConnectionInterface(IID* iid) override;
  [[nodiscard]] STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
  // The sink is asked for the event interface first, then for IDispatch.
  [[nodiscard]] STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  [[nodiscard]] STDMETHODIMP Unadvise(DWORD cookie) override;
  // Not offered (E_NOTIMPL, which the interface allows).
  [[nodiscard]] STDMETHODIMP EnumConnections(IEnumConnections** out) override;

 private:
  win32::ComPtr<IConnectionPointContainer> container_;
  IID event_iid_;
  EventSource& source_;
};

// IConnectionPointContainer for an object with one event interface.
// FindConnectionPoint and EnumConnectionPoints of the owner forward here.
[[nodiscard]] HRESULT FindConnectionPoint(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source,
                                          REFIID wanted, IConnectionPoint** out);
[[nodiscard]] HRESULT EnumConnectionPoints(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source,
                                           IEnumConnectionPoints** out);

}  // namespace dovel::platform::com_server
