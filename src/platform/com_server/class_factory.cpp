#include "platform/com_server/class_factory.h"

namespace dovel::platform::com_server {

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  IUnknown* object = create_();
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ServerLifetime::Lock();
  } else {
    ServerLifetime::Unlock();
  }
  return S_OK;
}

}  // namespace dovel::platform::com_server
