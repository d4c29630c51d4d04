#include "platform/com_server/registration.h"

#include <objbase.h>
#include <oleauto.h>

#include "platform/com_server/type_library.h"
#include "platform/com_server/win32_handles.h"

namespace dovel::platform::com_server {
namespace {

[[nodiscard]] HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

// Sets the value `name` (nullptr: the key's default value) of HKCR\`path`,
// creating the key as needed.
[[nodiscard]] HRESULT SetText(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  win32::RegistryKeyHandle key;
  const LSTATUS status =
      RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  return FromStatus(RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

// The key at `path` with everything below it; a key already gone is fine.
[[nodiscard]] HRESULT DeleteTree(const std::wstring& path) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

}  // namespace

std::wstring GuidText(const GUID& guid) {
  wchar_t text[39] = {};
  // 39 characters always hold a GUID's text.
  static_cast<void>(StringFromGUID2(guid, text, 39));
  return text;
}

HRESULT RegisterClassKeys(const ClassRegistration& r) {
  const std::wstring clsid_key = L"CLSID\\" + GuidText(r.clsid);
  const std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  // A fresh start, so nothing of an older registration lingers; whatever
  // could not be removed is overwritten or fails the writes below.
  static_cast<void>(UnregisterClassKeys(r));

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
  // Undo what was written; the first failure is the one to report.
  if (FAILED(hr)) static_cast<void>(UnregisterClassKeys(r));
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
  win32::ComPtr<ITypeLib> library;
  HRESULT hr = ModuleTypeLibrary(library);
  if (FAILED(hr)) return hr;
  std::wstring path = ModulePath();
  hr = RegisterTypeLib(library.get(), path.data(), nullptr);
  LibraryAttributes attributes;
  // Without its attributes the neutral-locale entry is left out; the
  // registration itself stands.
  if (SUCCEEDED(hr) && SUCCEEDED(GetLibraryAttributes(library.get(), attributes)) && attributes->lcid != 0) {
    hr = SetText(NeutralLocaleKey(*attributes.get()) + L"\\" + SysKindName(attributes->syskind), nullptr, path);
  }
  return hr;
}

HRESULT UnregisterModuleTypeLibrary() {
  win32::ComPtr<ITypeLib> library;
  HRESULT hr = ModuleTypeLibrary(library);
  if (FAILED(hr)) return hr;
  LibraryAttributes attributes;
  hr = GetLibraryAttributes(library.get(), attributes);
  if (FAILED(hr)) return hr;
  // The entry of our own making goes first; one already gone is fine, and
  // one that will not go is harmless once the library is unregistered.
  if (attributes->lcid != 0) static_cast<void>(DeleteTree(NeutralLocaleKey(*attributes.get())));
  hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                         attributes->syskind);
  // Already unregistered is what the caller wants.
  if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY) hr = S_OK;
  return hr;
}

}  // namespace dovel::platform::com_server
