#include "platform/com_server/dispatch_bridge.h"

#include <oleauto.h>

#include <algorithm>

#include "platform/automation/variant_win32.h"
#include "platform/core/error_codes.h"

namespace dovel::platform::com_server {
namespace {

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

// One argument as the object sees it: by-reference 16-bit integers stay
// references, everything else is converted by value.
[[nodiscard]] std::error_code Argument(const VARIANT& from, automation::Variant& to) {
  if (from.vt == (VT_I2 | VT_BYREF)) {
    if (from.piVal == nullptr) return RuntimeError::kTypeMismatch;
    to = automation::Int16Ref{from.piVal};
    return {};
  }
  return automation::FromComVariant(from, to);
}

}  // namespace

STDMETHODIMP DispatchBridge::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}

STDMETHODIMP DispatchBridge::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out != nullptr) *out = nullptr;
  return DISP_E_BADINDEX;
}

STDMETHODIMP DispatchBridge::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  // Named arguments are not offered.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0] == nullptr) return E_INVALIDARG;
  const std::u16string_view name(reinterpret_cast<const char16_t*>(names[0]));
  const auto known = std::find_if(names_.begin(), names_.end(), [&](const auto& n) { return SameName(n, name); });
  if (known == names_.end()) {
    try {
      names_.emplace_back(name);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    ids[0] = static_cast<DISPID>(names_.size());
  } else {
    ids[0] = static_cast<DISPID>(known - names_.begin() + 1);
  }
  return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT DispatchBridge::Failure(std::error_code status, EXCEPINFO* exception) const {
  if (status == RuntimeError::kMemberNotFound) return DISP_E_MEMBERNOTFOUND;
  if (exception != nullptr) {
    *exception = EXCEPINFO{};
    exception->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<WORD>(ErrorNumber(status)));
  }
  return DISP_E_EXCEPTION;
}

STDMETHODIMP DispatchBridge::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* exception, UINT* argument_error) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return E_INVALIDARG;
  if (id < 1 || static_cast<std::size_t>(id) > names_.size()) return DISP_E_MEMBERNOTFOUND;
  const std::u16string& name = names_[static_cast<std::size_t>(id - 1)];
  if (result != nullptr) VariantInit(result);
  try {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      automation::Variant value;
      if (Argument(params->rgvarg[0], value)) {
        if (argument_error != nullptr) *argument_error = 0;
        return DISP_E_TYPEMISMATCH;
      }
      const std::error_code status = target_->PutProperty(name, value);
      return status ? Failure(status, exception) : S_OK;
    }
    automation::Variant value;
    std::error_code status;
    if ((flags & DISPATCH_PROPERTYGET) && !(flags & DISPATCH_METHOD) && params->cArgs == 0) {
      status = target_->GetProperty(name, value);
    } else {
      std::vector<automation::Variant> args(params->cArgs);
      for (UINT i = 0; i < params->cArgs; ++i) {
        // rgvarg holds the last argument first.
        if (Argument(params->rgvarg[params->cArgs - 1 - i], args[i])) {
          if (argument_error != nullptr) *argument_error = params->cArgs - 1 - i;
          return DISP_E_TYPEMISMATCH;
        }
      }
      status = target_->Call(name, args, &value);
    }
    if (status) return Failure(status, exception);
    if (result != nullptr && !value.Is<automation::Empty>()) {
      if (const std::error_code converted = automation::ToComVariant(value, *result)) {
        return Failure(converted, exception);
      }
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace dovel::platform::com_server
