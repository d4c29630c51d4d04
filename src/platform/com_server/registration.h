#pragma once

#include <windows.h>

#include <string>

namespace dovel::platform::com_server {

// What self-registration writes for one class: under HKEY_CLASSES_ROOT its
// CLSID key (name, server path, ProgID, type library) and its ProgID key
// (name, CLSID). The server path is this module's own path.
struct ClassRegistration {
  enum class Server { kLocal, kInProcess };

  CLSID clsid{};
  std::wstring prog_id;
  std::wstring description;
  Server server = Server::kLocal;
  // Set when the class is described by this module's embedded type library.
  const GUID* type_library = nullptr;
  std::wstring type_library_version;  // "1.0"
};

// Writes the class's keys; replaces what an earlier registration wrote.
[[nodiscard]] HRESULT RegisterClassKeys(const ClassRegistration& registration);
// Removes the class's keys; keys already gone count as removed.
[[nodiscard]] HRESULT UnregisterClassKeys(const ClassRegistration& registration);

// RegisterTypeLib / UnRegisterTypeLib of the module's embedded library. The
// registration also records every interface it describes for the standard
// marshaler, the event interface included, so calls and events cross
// process boundaries without proxy code of our own.
[[nodiscard]] HRESULT RegisterModuleTypeLibrary();
[[nodiscard]] HRESULT UnregisterModuleTypeLibrary();

// "{XXXXXXXX-...}" of a GUID.
std::wstring GuidText(const GUID& guid);

}  // namespace dovel::platform::com_server
