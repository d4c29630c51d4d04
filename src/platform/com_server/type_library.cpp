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
ITypeLib* g_library = nullptr;
HRESULT g_load_result = E_FAIL;

void Load() {
  const std::wstring path = ModulePath();
  g_load_result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_library);
}

}  // namespace

std::wstring ModulePath() { return win32::ModuleFileName(ThisModule()); }

HRESULT ModuleTypeLibrary(ITypeLib** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::call_once(g_load_once, Load);
  if (FAILED(g_load_result)) return g_load_result;
  g_library->AddRef();
  *out = g_library;
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
