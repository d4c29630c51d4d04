#include "platform/com_server/class_factory.h"

namespace dovel::platform::com_server {

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  const win32::ComPtr<IUnknown> object = create_();
  if (!object) return E_OUTOFMEMORY;
  return object->QueryInterface(iid, out);
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
