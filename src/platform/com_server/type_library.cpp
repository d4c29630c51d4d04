#include "platform/com_server/type_library.h"

#include <oleauto.h>

#include <mutex>

#include "platform/core/win32_text.h"

namespace dovel::platform::com_server {
namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::once_flag g_load_once;
// Kept for the module's life and never released: a DLL's static destructors
// run under the loader lock, no place to call into another module.
ITypeLib* g_library = nullptr;
HRESULT g_load_result = E_FAIL;

void Load() {
  const std::wstring path = ModulePath();
  g_load_result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_library);
}

}  // namespace

std::wstring ModulePath() { return win32::ModuleFileName(ThisModule()); }

HRESULT ModuleTypeLibrary(win32::ComPtr<ITypeLib>& out) {
  out.reset();
  std::call_once(g_load_once, Load);
  if (FAILED(g_load_result)) return g_load_result;
  out = win32::ComPtr<ITypeLib>::Share(g_library);
  return S_OK;
}

HRESULT ModuleTypeInfo(REFGUID guid, ITypeInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::call_once(g_load_once, Load);
  if (FAILED(g_load_result)) return g_load_result;
  return g_library->GetTypeInfoOfGuid(guid, out);
}

}  // namespace dovel::platform::com_server
