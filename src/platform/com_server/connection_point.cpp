#include "platform/com_server/connection_point.h"

#include <olectl.h>

#include <memory>

namespace dovel::platform::com_server {
namespace {

// One sink's IDispatch, released when the last copy of its delivery goes.
class SinkReference {
 public:
  explicit SinkReference(IDispatch* sink) : sink_(sink) {}
  ~SinkReference() { sink_->Release(); }
  SinkReference(const SinkReference&) = delete;
  SinkReference& operator=(const SinkReference&) = delete;

  bool Deliver(DISPID id) const {
    DISPPARAMS no_arguments{};
    const HRESULT hr =
        sink_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &no_arguments, nullptr, nullptr, nullptr);
    return !IsPeerGone(hr);
  }

 private:
  IDispatch* sink_;
};

// Enumerates the one connection point of a container.
class SingleEnumerator final : public ComObject<SingleEnumerator, IEnumConnectionPoints> {
 public:
  SingleEnumerator(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source, ULONG position)
      : owner_(owner), event_iid_(event_iid), source_(source), position_(position) {
    owner_->AddRef();
  }
  ~SingleEnumerator() override { owner_->Release(); }

  STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (points == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    if (count > 0 && position_ == 0) {
      points[0] = ConnectionPoint::Create(owner_, event_iid_, source_);
      if (points[0] == nullptr) return E_OUTOFMEMORY;
      position_ = 1;
      given = 1;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    if (count == 0) return S_OK;
    const bool had_one = position_ == 0;
    position_ = 1;
    return had_one && count == 1 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** out) override {
    if (out == nullptr) return E_POINTER;
    *out = SingleEnumerator::Create(owner_, event_iid_, source_, position_);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  IConnectionPointContainer* owner_;
  IID event_iid_;
  EventSource& source_;
  ULONG position_;
};

}  // namespace

bool IsPeerGone(HRESULT hr) {
  switch (static_cast<unsigned long>(hr)) {
    case 0x80010007u:  // RPC_E_SERVER_DIED
    case 0x80010012u:  // RPC_E_SERVER_DIED_DNE
    case 0x80010108u:  // RPC_E_DISCONNECTED
    case 0x800401FDu:  // CO_E_OBJNOTCONNECTED
    case 0x800706BAu:  // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BEu:  // RPC_S_CALL_FAILED
    case 0x800706BFu:  // RPC_S_CALL_FAILED_DNE
      return true;
    default:
      return false;
  }
}

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID event_iid, EventSource& source)
    : container_(container), event_iid_(event_iid), source_(source) {
  container_->AddRef();
}

ConnectionPoint::~ConnectionPoint() { container_->Release(); }

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = event_iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (out == nullptr) return E_POINTER;
  container_->AddRef();
  *out = container_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  IDispatch* dispatch = nullptr;
  if (FAILED(sink->QueryInterface(event_iid_, reinterpret_cast<void**>(&dispatch))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  std::shared_ptr<SinkReference> reference;
  try {
    reference = std::make_shared<SinkReference>(dispatch);
  } catch (...) {
    dispatch->Release();
    return E_OUTOFMEMORY;
  }
  return source_.AdviseSink([reference](DISPID id) { return reference->Deliver(id); }, cookie);
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) { return source_.UnadviseSink(cookie); }

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (out != nullptr) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT FindConnectionPoint(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source,
                            REFIID wanted, IConnectionPoint** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (wanted != event_iid) return CONNECT_E_NOCONNECTION;
  *out = ConnectionPoint::Create(owner, event_iid, source);
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT EnumConnectionPoints(IConnectionPointContainer* owner, REFIID event_iid, EventSource& source,
                             IEnumConnectionPoints** out) {
  if (out == nullptr) return E_POINTER;
  *out = SingleEnumerator::Create(owner, event_iid, source, 0);
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace dovel::platform::com_server
