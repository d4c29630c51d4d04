#include "platform/com_server/type_library.h"

#include <oleauto.h>

#include <mutex>

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

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

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
