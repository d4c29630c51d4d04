#include "platform/automation/object_factory.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "platform/automation/com_dispatch_win32.h"
#include "platform/automation/com_ptr_win32.h"
#include "platform/automation/text.h"
#include "platform/core/error_codes.h"

namespace dovel::platform::automation {
namespace {

// A thread that creates an object before anyone set up COM on it joins a
// single-threaded apartment, the one a form's thread has, and stays in it for
// the rest of its life: objects made there may be used until the thread ends.
// A thread already in an apartment keeps it.
[[nodiscard]] bool EnsureApartment() {
  thread_local bool joined = false;
  if (joined) return true;
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (hr == RPC_E_CHANGED_MODE) return true;  // already in the multithreaded apartment
  if (hr == S_FALSE) {
    CoUninitialize();  // the apartment is someone else's: leave their count as it was
    return true;
  }
  joined = SUCCEEDED(hr);
  return joined;
}

// Creation through the system's class registry, for IDispatch, in whatever
// server the class is registered with.
class ComObjectFactory final : public ObjectFactory {
 public:
  [[nodiscard]] std::error_code CreateObject(std::string_view prog_id, ObjectRef& object) override {
    return Create(prog_id, object);
  }

 private:
  [[nodiscard]] static std::error_code Create(std::string_view prog_id, ObjectRef& object) {
    try {
      if (prog_id.empty() || !EnsureApartment()) return RuntimeError::kCannotCreateObject;
      const std::u16string wide16 = FromUtf8(prog_id);
      const std::wstring wide(wide16.begin(), wide16.end());
      CLSID clsid{};
      if (FAILED(CLSIDFromProgID(wide.c_str(), &clsid))) return RuntimeError::kCannotCreateObject;
      win32::ComPtr<IDispatch> created;
      if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, created.put_void())) || !created) {
        return RuntimeError::kCannotCreateObject;
      }
      ObjectRef made = WrapDispatch(created.get());
      if (made == nullptr) return RuntimeError::kCannotCreateObject;
      object = std::move(made);
      return {};
    } catch (...) {
      return RuntimeError::kCannotCreateObject;
    }
  }
};

}  // namespace
}  // namespace dovel::platform::automation

namespace dovel::platform {

template <>
automation::ObjectFactory& SystemDefault<automation::ObjectFactory>() {
  static automation::ComObjectFactory factory;
  return factory;
}

}  // namespace dovel::platform
