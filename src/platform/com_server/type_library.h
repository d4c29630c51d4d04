#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace dovel::platform::com_server {

// The full path of the module (executable or DLL) this code is linked into.
std::wstring ModulePath();

// The type information of `guid` from the type library embedded in this
// module as resource 1, loaded once and kept for the module's life. No
// registration is needed for this: the server describes itself even before
// /RegServer has run.
HRESULT ModuleTypeInfo(REFGUID guid, ITypeInfo** out);

// The embedded type library itself, with one reference for the caller.
HRESULT ModuleTypeLibrary(ITypeLib** out);

}  // namespace dovel::platform::com_server
