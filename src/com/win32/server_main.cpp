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
#include <memory>
#include <string>
#include <string_view>

#include "Dovel_h.h"
#include "com/dispatch_ids.h"
#include "com/win32/com_msg_queue.h"
#include "platform/automation/com_ptr_win32.h"
#include "platform/com_server/class_factory.h"
#include "platform/com_server/registration.h"
#include "platform/com_server/server_lifetime.h"
#include "platform/com_server/win32_handles.h"
#include "platform/core/win32_text.h"
#include "platform/loop/message_loop.h"

namespace {

namespace com = dovel::com;
namespace com_server = dovel::platform::com_server;
namespace win32 = dovel::platform::win32;

com_server::ClassRegistration QueueClass() {
  com_server::ClassRegistration r;
  r.clsid = CLSID_clsMsgQueue;
  r.prog_id = win32::WideFromUtf8(com::kProgId);
  r.description = win32::WideFromUtf8(com::kClassDescription);
  r.server = com_server::ClassRegistration::Server::kLocal;
  r.type_library = &LIBID_Dovel;
  r.type_library_version = std::to_wstring(com::kTypeLibraryVersion.major) + L"." +
                           std::to_wstring(com::kTypeLibraryVersion.minor);
  return r;
}

[[nodiscard]] int Fail(std::string_view what, HRESULT hr) {
  std::fprintf(stderr, "Dovel: %.*s failed (0x%08lX)\n", static_cast<int>(what.size()), what.data(),
               static_cast<unsigned long>(hr));
  return 1;
}

[[nodiscard]] int Register() {
  HRESULT hr = com_server::RegisterModuleTypeLibrary();
  if (FAILED(hr)) return Fail("registering the type library", hr);
  hr = com_server::RegisterClassKeys(QueueClass());
  if (FAILED(hr)) return Fail("registering " + std::string(com::kProgId), hr);
  return 0;
}

[[nodiscard]] int Unregister() {
  const HRESULT class_result = com_server::UnregisterClassKeys(QueueClass());
  const HRESULT library_result = com_server::UnregisterModuleTypeLibrary();
  if (FAILED(class_result)) return Fail("removing " + std::string(com::kProgId), class_result);
  if (FAILED(library_result)) return Fail("removing the type library", library_result);
  return 0;
}

[[nodiscard]] int Serve() {
  dovel::platform::MessageLoop& loop = dovel::platform::CurrentMessageLoop();
  // Stopping from a posted task lets the release that ended the last object
  // return to its caller before the loop winds down.
  com_server::ServerLifetime::UseServerProcessCount([&loop] { loop.Post([&loop] { loop.Stop(); }); });

  const auto factory = com_server::ClassFactory::Create([]() -> win32::ComPtr<IUnknown> {
    return win32::ComPtr<_clsMsgQueue>(dovel::com::win32::ComMsgQueue::Create());
  });
  if (!factory) return Fail("making the class factory", E_OUTOFMEMORY);
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(CLSID_clsMsgQueue, factory.get(), CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
  if (SUCCEEDED(hr)) hr = CoResumeClassObjects();
  if (FAILED(hr)) {
    // The failure to report is the one above.
    if (cookie != 0) static_cast<void>(CoRevokeClassObject(cookie));
    return Fail("registering the class object", hr);
  }
  // COM may have started us with the standard handles of the client that
  // caused the start. Holding them would keep that client's pipes open for
  // the server's whole life, long after the client has gone.
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const win32::KernelHandle inherited(GetStdHandle(which));  // closed at the end of this turn
    // Fails only for a `which` that is none of the three.
    static_cast<void>(SetStdHandle(which, nullptr));
  }
  loop.Run();
  // The process ends next, which takes the registration with it anyway.
  static_cast<void>(CoRevokeClassObject(cookie));
  return 0;
}

bool IsSwitch(const wchar_t* argument, const wchar_t* name) {
  return (argument[0] == L'/' || argument[0] == L'-') && _wcsicmp(argument + 1, name) == 0;
}

struct LocalMemoryFree {
  // Nothing to do about memory that will not go back.
  void operator()(void* memory) const { static_cast<void>(LocalFree(memory)); }
};

}  // namespace

int main() {
  int count = 0;
  const std::unique_ptr<wchar_t*, LocalMemoryFree> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  enum class Mode { kUnknown, kRegister, kUnregister, kServe } mode = Mode::kUnknown;
  if (arguments != nullptr && count >= 2) {
    const wchar_t* first = arguments.get()[1];
    if (IsSwitch(first, L"RegServer")) mode = Mode::kRegister;
    if (IsSwitch(first, L"UnregServer")) mode = Mode::kUnregister;
    if (IsSwitch(first, L"Embedding")) mode = Mode::kServe;
  }
  if (mode == Mode::kUnknown) {
    std::fputs("usage: Dovel.exe /RegServer | /UnregServer | -Embedding\n", stderr);
    return 2;
  }

  if (const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); FAILED(hr)) {
    return Fail("CoInitializeEx", hr);
  }
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
