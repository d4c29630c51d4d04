#pragma once

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include "platform/automation/com_ptr_win32.h"
#include "platform/com_server/type_library.h"

namespace dovel::platform::com_server {

// IDispatch for a dual interface, answered from the module's own type
// library: names and dispatch identifiers come from the library, and Invoke
// calls the interface's vtable through DispInvoke. Late-bound and early-bound
// callers therefore always reach the same code.
//
// Use: class X : public DualDispatch<ComObject<X, IFoo, ...>, IFoo>.
template <class Base, class Interface>
class DualDispatch : public Base {
 public:
  [[nodiscard]] STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }

  [[nodiscard]] STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* info = TypeInfo();
    if (info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    return type_info_.CopyTo(out);
  }

  [[nodiscard]] STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = TypeInfo();
    if (info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    return DispGetIDsOfNames(info, names, count, ids);
  }

  [[nodiscard]] STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* exception, UINT* argument_error) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = TypeInfo();
    if (info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    return DispInvoke(static_cast<Interface*>(this), info, id, flags, params, result, exception, argument_error);
  }

 private:
  // Loaded on first use; the object lives on one apartment thread.
  ITypeInfo* TypeInfo() {
    // A failure leaves it empty, which every caller reports.
    if (!type_info_) static_cast<void>(ModuleTypeInfo(__uuidof(Interface), type_info_.put()));
    return type_info_.get();
  }

  win32::ComPtr<ITypeInfo> type_info_;
};

}  // namespace dovel::platform::com_server
