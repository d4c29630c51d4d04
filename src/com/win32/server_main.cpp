// Dovel.exe: the out-of-process COM server of the queue object.
//
//   Dovel.exe /RegServer     registers the class, its ProgID and the type
//                            library (with its interfaces) for this path
//   Dovel.exe /UnregServer   removes all of it again
//   Dovel.exe -Embedding     what COM starts: serves objects until the last
//                            object and lock are gone
//
// Switches start with '/' or '-' and are matched without regard to case.
// Exit status: 0 on success; 1 when (un)registration or the server failed,
// with the reason on standard error; 2 for a command line it does not know.
// The server shows nothing on screen.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "Dovel_h.h"
#include "com/win32/com_msg_queue.h"
#include "platform/com_server/class_factory.h"
#include "platform/com_server/registration.h"
#include "platform/com_server/server_lifetime.h"
#include "platform/loop/message_loop.h"

namespace {

namespace com_server = dovel::platform::com_server;

com_server::ClassRegistration QueueClass() {
  com_server::ClassRegistration r;
  r.clsid = CLSID_clsMsgQueue;
  r.prog_id = L"Dovel.clsMsgQueue";
  r.description = L"Dovel.clsMsgQueue";
  r.server = com_server::ClassRegistration::Server::kLocal;
  r.type_library = &LIBID_Dovel;
  r.type_library_version = L"1.0";
  return r;
}

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "Dovel: %s failed (0x%08lX)\n", what, static_cast<unsigned long>(hr));
  return 1;
}

int Register() {
  HRESULT hr = com_server::RegisterModuleTypeLibrary();
  if (FAILED(hr)) return Fail("registering the type library", hr);
  hr = com_server::RegisterClassKeys(QueueClass());
  if (FAILED(hr)) return Fail("registering Dovel.clsMsgQueue", hr);
  return 0;
}

int Unregister() {
  const HRESULT class_result = com_server::UnregisterClassKeys(QueueClass());
  const HRESULT library_result = com_server::UnregisterModuleTypeLibrary();
  if (FAILED(class_result)) return Fail("removing Dovel.clsMsgQueue", class_result);
  if (FAILED(library_result)) return Fail("removing the type library", library_result);
  return 0;
}

int Serve() {
  dovel::platform::MessageLoop& loop = dovel::platform::CurrentMessageLoop();
  // Stopping from a posted task lets the release that ended the last object
  // return to its caller before the loop winds down.
  com_server::ServerLifetime::UseServerProcessCount([&loop] { loop.Post([&loop] { loop.Stop(); }); });

  auto* factory = com_server::ClassFactory::Create(
      [] { return static_cast<IUnknown*>(static_cast<_clsMsgQueue*>(dovel::com::win32::ComMsgQueue::Create())); });
  if (factory == nullptr) return Fail("making the class factory", E_OUTOFMEMORY);
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(CLSID_clsMsgQueue, static_cast<IClassFactory*>(factory), CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
  if (SUCCEEDED(hr)) hr = CoResumeClassObjects();
  if (FAILED(hr)) {
    if (cookie != 0) CoRevokeClassObject(cookie);
    factory->Release();
    return Fail("registering the class object", hr);
  }
  // COM may have started us with the standard handles of the client that
  // caused the start. Holding them would keep that client's pipes open for
  // the server's whole life, long after the client has gone.
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE inherited = GetStdHandle(which);
    if (inherited != nullptr && inherited != INVALID_HANDLE_VALUE) CloseHandle(inherited);
    SetStdHandle(which, nullptr);
  }
  loop.Run();
  CoRevokeClassObject(cookie);
  factory->Release();
  return 0;
}

bool IsSwitch(const wchar_t* argument, const wchar_t* name) {
  return (argument[0] == L'/' || argument[0] == L'-') && _wcsicmp(argument + 1, name) == 0;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  enum class Mode { kUnknown, kRegister, kUnregister, kServe } mode = Mode::kUnknown;
  if (arguments != nullptr && count >= 2) {
    if (IsSwitch(arguments[1], L"RegServer")) mode = Mode::kRegister;
    if (IsSwitch(arguments[1], L"UnregServer")) mode = Mode::kUnregister;
    if (IsSwitch(arguments[1], L"Embedding")) mode = Mode::kServe;
  }
  LocalFree(arguments);
  if (mode == Mode::kUnknown) {
    std::fputs("usage: Dovel.exe /RegServer | /UnregServer | -Embedding\n", stderr);
    return 2;
  }

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Fail("CoInitializeEx", E_FAIL);
  int status = 0;
  switch (mode) {
    case Mode::kRegister: status = Register(); break;
    case Mode::kUnregister: status = Unregister(); break;
    case Mode::kServe: status = Serve(); break;
    case Mode::kUnknown: break;
  }
  CoUninitialize();
  return status;
}
