#include "platform/com_server/registration.h"

#include <objbase.h>
#include <oleauto.h>

#include "platform/com_server/type_library.h"

namespace dovel::platform::com_server {
namespace {

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

// Sets the value `name` (nullptr: the key's default value) of HKCR\`path`,
// creating the key as needed.
HRESULT SetText(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return FromStatus(status);
}

// The key at `path` with everything below it; a key already gone is fine.
HRESULT DeleteTree(const std::wstring& path) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

}  // namespace

std::wstring GuidText(const GUID& guid) {
  wchar_t text[39] = {};
  StringFromGUID2(guid, text, 39);
  return text;
}

HRESULT RegisterClassKeys(const ClassRegistration& r) {
  const std::wstring clsid_key = L"CLSID\\" + GuidText(r.clsid);
  const std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  // A fresh start, so nothing of an older registration lingers.
  UnregisterClassKeys(r);

  HRESULT hr = SetText(clsid_key, nullptr, r.description);
  if (SUCCEEDED(hr)) {
    if (r.server == ClassRegistration::Server::kLocal) {
      hr = SetText(clsid_key + L"\\LocalServer32", nullptr, L"\"" + path + L"\"");
    } else {
      hr = SetText(clsid_key + L"\\InprocServer32", nullptr, path);
      if (SUCCEEDED(hr)) hr = SetText(clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    }
  }
  if (SUCCEEDED(hr)) hr = SetText(clsid_key + L"\\ProgID", nullptr, r.prog_id);
  if (SUCCEEDED(hr) && r.type_library != nullptr) {
    hr = SetText(clsid_key + L"\\TypeLib", nullptr, GuidText(*r.type_library));
    if (SUCCEEDED(hr)) hr = SetText(clsid_key + L"\\Version", nullptr, r.type_library_version);
  }
  if (SUCCEEDED(hr)) hr = SetText(r.prog_id, nullptr, r.description);
  if (SUCCEEDED(hr)) hr = SetText(r.prog_id + L"\\CLSID", nullptr, GuidText(r.clsid));
  if (FAILED(hr)) UnregisterClassKeys(r);
  return hr;
}

HRESULT UnregisterClassKeys(const ClassRegistration& r) {
  const HRESULT class_result = DeleteTree(L"CLSID\\" + GuidText(r.clsid));
  const HRESULT prog_id_result = DeleteTree(r.prog_id);
  return FAILED(class_result) ? class_result : prog_id_result;
}

namespace {

// HKCR\TypeLib\{guid}\major.minor\0\win32|win64: the library's path for
// callers that look it up under the neutral locale only (Wine's standard
// marshaler does, whatever locale the library has).
std::wstring NeutralLocaleKey(const TLIBATTR& attributes) {
  return L"TypeLib\\" + GuidText(attributes.guid) + L"\\" + std::to_wstring(attributes.wMajorVerNum) + L"." +
         std::to_wstring(attributes.wMinorVerNum) + L"\\0";
}

const wchar_t* SysKindName(SYSKIND kind) { return kind == SYS_WIN64 ? L"win64" : L"win32"; }

}  // namespace

HRESULT RegisterModuleTypeLibrary() {
  ITypeLib* library = nullptr;
  HRESULT hr = ModuleTypeLibrary(&library);
  if (FAILED(hr)) return hr;
  std::wstring path = ModulePath();
  hr = RegisterTypeLib(library, path.data(), nullptr);
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(hr) && SUCCEEDED(library->GetLibAttr(&attributes))) {
    if (attributes->lcid != 0) {
      hr = SetText(NeutralLocaleKey(*attributes) + L"\\" + SysKindName(attributes->syskind), nullptr, path);
    }
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  return hr;
}

HRESULT UnregisterModuleTypeLibrary() {
  ITypeLib* library = nullptr;
  HRESULT hr = ModuleTypeLibrary(&library);
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = library->GetLibAttr(&attributes);
  if (SUCCEEDED(hr)) {
    if (attributes->lcid != 0) DeleteTree(NeutralLocaleKey(*attributes));
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                           attributes->syskind);
    // Already unregistered is what the caller wants.
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY) hr = S_OK;
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  return hr;
}

}  // namespace dovel::platform::com_server
