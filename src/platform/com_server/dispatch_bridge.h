#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/automation/dispatch.h"
#include "platform/com_server/com_object.h"

namespace dovel::platform::com_server {

// IDispatch for an object that is called by member name (an automation
// Dispatch of our own), for late-bound callers only: there is no type
// information. GetIDsOfNames gives every name an identifier of its own,
// matched without regard to case; whether the member exists is found out at
// Invoke, which then fails with DISP_E_MEMBERNOTFOUND.
//
// Invoke: a property put passes its one value; a property get without
// arguments reads; anything else is a method call with the arguments in
// positional order (rgvarg holds them last first). A 16-bit integer passed
// by reference reaches the object as a reference to the caller's variable.
// An error number from the object comes back as DISP_E_EXCEPTION, its
// EXCEPINFO carrying the number as a FACILITY_CONTROL scode.
class DispatchBridge final : public ComObject<DispatchBridge, IDispatch> {
 public:
  explicit DispatchBridge(std::shared_ptr<automation::Dispatch> target) : target_(std::move(target)) {}

  [[nodiscard]] STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  [[nodiscard]] STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override;
  [[nodiscard]] STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  [[nodiscard]] STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* exception, UINT* argument_error) override;

 private:
  // The object's failure as Invoke returns it.
  [[nodiscard]] HRESULT Failure(std::error_code status, EXCEPINFO* exception) const;

  std::shared_ptr<automation::Dispatch> target_;
  std::vector<std::u16string> names_;  // identifier n names names_[n - 1]
};

}  // namespace dovel::platform::com_server
