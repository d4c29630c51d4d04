#include "platform/com_server/connection_point.h"

#include <olectl.h>

#include <memory>

namespace dovel::platform::com_server {
namespace {

// One sink's IDispatch, released when the last copy of its delivery goes.
class SinkReference {
 public:
  explicit SinkReference(win32::ComPtr<IDispatch> sink) : sink_(std::move(sink)) {}

  [[nodiscard]] bool Deliver(DISPID id) const {
    DISPPARAMS no_arguments{};
    const HRESULT hr =
        sink_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &no_arguments, nullptr, nullptr, nullptr);
    return !IsPeerGone(hr);
  }

 private:
  win32::ComPtr<IDispatch> sink_;
};

// Enumerates the one connection point of a container.
class SingleEnumerator final : public ComObject<SingleEnumerator, IEnumConnectionPoints> {
 public:
  SingleEnumerator(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source, ULONG position)
      : owner_(win32::ComPtr<IConnectionPointContainer>::Share(owner)),
        event_iid_(event_iid),
        source_(source),
        position_(position) {}

  [[nodiscard]] STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (points == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    if (count > 0 && position_ == 0) {
      win32::ComPtr<ConnectionPoint> point = ConnectionPoint::Create(owner_.get(), event_iid_, source_);
      if (!point) return E_OUTOFMEMORY;
      points[0] = point.detach();
      position_ = 1;
      given = 1;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  [[nodiscard]] STDMETHODIMP Skip(ULONG count) override {
    if (count == 0) return S_OK;
    const bool had_one = position_ == 0;
    position_ = 1;
    return had_one && count == 1 ? S_OK : S_FALSE;
  }
  [[nodiscard]] STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  [[nodiscard]] STDMETHODIMP Clone(IEnumConnectionPoints** out) override {
    if (out == nullptr) return E_POINTER;
    *out = SingleEnumerator::Create(owner_.get(), event_iid_, source_, position_).detach();
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  win32::ComPtr<IConnectionPointContainer> owner_;
  IID event_iid_;
  EventSource& source_;
  ULONG position_;
};

}  // namespace

bool IsPeerGone(HRESULT hr) {
  switch (hr) {
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case RPC_E_DISCONNECTED:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE): return true;
    default: return false;
  }
}

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID event_iid, EventSource& source)
    : container_(win32::ComPtr<IConnectionPointContainer>::Share(container)), event_iid_(event_iid), source_(source) {}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = event_iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  return container_.CopyTo(out);
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  win32::ComPtr<IDispatch> dispatch;
  if (FAILED(sink->QueryInterface(event_iid_, dispatch.put_void())) &&
      FAILED(sink->QueryInterface(IID_IDispatch, dispatch.put_void()))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  std::shared_ptr<SinkReference> reference;
  try {
    reference = std::make_shared<SinkReference>(std::move(dispatch));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return source_.AdviseSink([reference](DISPID id) { return reference->Deliver(id); }, cookie);
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) { return source_.UnadviseSink(cookie); }

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (out != nullptr) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT FindConnectionPoint(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source, REFIID wanted,
                            IConnectionPoint** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (wanted != event_iid) return CONNECT_E_NOCONNECTION;
  *out = ConnectionPoint::Create(owner, event_iid, source).detach();
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT EnumConnectionPoints(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source,
                             IEnumConnectionPoints** out) {
  if (out == nullptr) return E_POINTER;
  *out = SingleEnumerator::Create(owner, event_iid, source, 0).detach();
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace dovel::platform::com_server
