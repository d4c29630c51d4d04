#include "platform/com_server/inproc_server.h"

#include <objbase.h>

#include "platform/com_server/class_factory.h"

namespace com_server = dovel::platform::com_server;

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const com_server::InprocClass& served = com_server::ServedClass();
  if (clsid != served.registration.clsid) return CLASS_E_CLASSNOTAVAILABLE;
  const auto factory = com_server::ClassFactory::Create([create = served.create] { return create(); });
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return com_server::ServerLifetime::CanUnload() ? S_OK : S_FALSE; }

HRESULT STDAPICALLTYPE DllRegisterServer() {
  return com_server::RegisterClassKeys(com_server::ServedClass().registration);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return com_server::UnregisterClassKeys(com_server::ServedClass().registration);
}

}  // extern "C"
