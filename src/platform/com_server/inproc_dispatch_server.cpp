// ServedClass() of a DLL that describes its class as a DispatchClass: each
// object is the DLL's Dispatch behind a DispatchBridge.
#include <string>

#include "platform/com_server/dispatch_bridge.h"
#include "platform/com_server/dispatch_class.h"
#include "platform/com_server/inproc_server.h"
#include "platform/core/win32_text.h"

namespace dovel::platform::com_server {
namespace {

GUID ToGuid(const ClassId& id) {
  GUID guid{id.data1, id.data2, id.data3, {}};
  for (std::size_t i = 0; i < id.data4.size(); ++i) guid.Data4[i] = id.data4[i];
  return guid;
}

win32::ComPtr<IUnknown> CreateBridge() {
  try {
    std::shared_ptr<automation::Dispatch> target = ServedDispatchClass().create();
    if (target == nullptr) return nullptr;
    return DispatchBridge::Create(std::move(target));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

const InprocClass& ServedClass() {
  static const InprocClass served = [] {
    const DispatchClass& served_class = ServedDispatchClass();
    return InprocClass{
        {ToGuid(served_class.class_id), win32::WideFromUtf8(served_class.prog_id),
         win32::WideFromUtf8(served_class.description), ClassRegistration::Server::kInProcess, nullptr, L""},
        &CreateBridge};
  }();
  return served;
}

}  // namespace dovel::platform::com_server
