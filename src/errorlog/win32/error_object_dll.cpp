// ErrorObject.dll: the reference error-logging component for Windows, an
// in-process COM server registering "ErrorObject.clsErrorObject". It is the
// text-file logger of errorlog/ behind IDispatch, for late-bound callers.
// Sites with a component of their own register theirs instead.
#include <memory>

#include "errorlog/error_log_object.h"
#include "errorlog/win32/error_object_identity.h"
#include "platform/com_server/dispatch_class.h"

namespace com_server = dovel::platform::com_server;

const com_server::DispatchClass& com_server::ServedDispatchClass() {
  static constexpr DispatchClass served{
      ClassIdOf(errorlog::kClassGuid), errorlog::kProgId, errorlog::kProgId,
      []() -> std::shared_ptr<automation::Dispatch> { return std::make_shared<errorlog::ErrorLogObject>(); }};
  return served;
}
