#pragma once

#include <windows.h>
#include <unknwn.h>

#include "platform/com_server/registration.h"

namespace dovel::platform::com_server {

// The one class an in-process server (a DLL) serves. The DLL defines
// ServedClass(); this library gives it the four exported entry points
// DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer (list them in the DLL's .def file).
struct InprocClass {
  ClassRegistration registration;  // server kInProcess
  IUnknown* (*create)();           // one new object with one reference, or nullptr
};

const InprocClass& ServedClass();

}  // namespace dovel::platform::com_server
