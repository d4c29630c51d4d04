// ErrorObject.dll: the reference error-logging component for Windows, an
// in-process COM server registering "ErrorObject.clsErrorObject". It is the
// text-file logger of errorlog/ behind IDispatch, for late-bound callers.
// Sites with a component of their own register theirs instead.
#include <windows.h>

#include <memory>

#include "errorlog/error_log_object.h"
#include "platform/com_server/dispatch_bridge.h"
#include "platform/com_server/inproc_server.h"

namespace {

namespace com_server = dovel::platform::com_server;

// Fixed for good: clients may have bound to it.
constexpr CLSID kClassId = {0x3F8E2C71, 0x5A94, 0x4D0B, {0xB6, 0xE3, 0x91, 0xC7, 0xA2, 0xD4, 0xF0, 0x58}};

IUnknown* Create() {
  std::shared_ptr<dovel::errorlog::ErrorLogObject> logger;
  try {
    logger = std::make_shared<dovel::errorlog::ErrorLogObject>();
  } catch (...) {
    return nullptr;
  }
  return com_server::DispatchBridge::Create(std::move(logger));
}

}  // namespace

const com_server::InprocClass& com_server::ServedClass() {
  static const InprocClass served{
      {kClassId, L"ErrorObject.clsErrorObject", L"ErrorObject.clsErrorObject",
       ClassRegistration::Server::kInProcess, nullptr, L""},
      &Create};
  return served;
}
