#pragma once

#include <windows.h>
#include <unknwn.h>

#include "platform/automation/com_ptr_win32.h"
#include "platform/com_server/registration.h"

namespace dovel::platform::com_server {

// The one class an in-process server (a DLL) serves. The DLL defines
// ServedClass() (or links dovel_platform_inproc_dispatch_server, which
// defines it from a DispatchClass); this library gives it the four exported
// entry points DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer (list them in the DLL's .def file).
struct InprocClass {
  ClassRegistration registration;       // server kInProcess
  win32::ComPtr<IUnknown> (*create)();  // one new object, or nothing
};

const InprocClass& ServedClass();

}  // namespace dovel::platform::com_server
