#include "platform/automation/com_dispatch_win32.h"
#include "platform/automation/variant_win32.h"

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/automation/com_ptr_win32.h"
#include "platform/automation/com_values_win32.h"
#include "platform/core/error_codes.h"

namespace dovel::platform::automation {
namespace {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "automation text is UTF-16 on Windows");

class ComDispatch final : public Dispatch {
 public:
  explicit ComDispatch(IDispatch* object) : object_(win32::ComPtr<IDispatch>::Share(object)) {}

  IDispatch* object() const { return object_.get(); }

  [[nodiscard]] std::error_code PutProperty(std::u16string_view name, const Variant& value) override;
  [[nodiscard]] std::error_code GetProperty(std::u16string_view name, Variant& result) override;
  [[nodiscard]] std::error_code Call(std::u16string_view name, std::span<Variant> args, Variant* result) override;

 private:
  [[nodiscard]] std::error_code Invoke(std::u16string_view name, WORD flags, DISPPARAMS& params, Variant* result);

  win32::ComPtr<IDispatch> object_;
};

// The system's conversion calls only read their source but are declared
// without const.
VARIANT* Source(const VARIANT& from) { return const_cast<VARIANT*>(&from); }

// A failed call of the system as a late-bound caller sees it.
[[nodiscard]] std::error_code StatusOf(HRESULT hr, EXCEPINFO* exception = nullptr) {
  return RuntimeStatus(ErrorNumberFromHResult(hr, exception));
}

[[nodiscard]] std::error_code ToVariant(const Variant& from, VARIANT& to);
[[nodiscard]] std::error_code FromVariant(const VARIANT& from, Variant& to);

// Fills a fresh one-dimensional array; `fill` gets the element storage.
template <class Fill>
[[nodiscard]] std::error_code MakeVector(VARTYPE element_type, std::int32_t lower_bound, std::size_t count, VARIANT& to,
                                         Fill fill) {
  SAFEARRAY* array = SafeArrayCreateVector(element_type, lower_bound, static_cast<ULONG>(count));
  if (array == nullptr) return RuntimeError::kOutOfMemory;
  // Owned from here on: a failure below frees it, elements filled included.
  win32::ScopedVariant made;
  V_VT(&made.get()) = static_cast<VARTYPE>(VT_ARRAY | element_type);
  V_ARRAY(&made.get()) = array;
  if (count > 0) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return RuntimeError::kOutOfMemory;
    const std::error_code status = fill(data);
    // Cannot fail: the access above succeeded.
    static_cast<void>(SafeArrayUnaccessData(array));
    if (status) return status;
  }
  to = made.detach();
  return {};
}

struct ToVariantVisitor {
  VARIANT& to;

  std::error_code operator()(Empty) const {
    V_VT(&to) = VT_EMPTY;
    return {};
  }
  std::error_code operator()(Missing) const {
    V_VT(&to) = VT_ERROR;
    V_ERROR(&to) = DISP_E_PARAMNOTFOUND;
    return {};
  }
  std::error_code operator()(std::int16_t value) const {
    V_VT(&to) = VT_I2;
    V_I2(&to) = value;
    return {};
  }
  std::error_code operator()(Int16Ref ref) const {
    if (ref.target == nullptr) return RuntimeError::kTypeMismatch;
    // The callee reads and writes the caller's own variable.
    V_VT(&to) = VT_I2 | VT_BYREF;
    V_I2REF(&to) = ref.target;
    return {};
  }
  std::error_code operator()(std::int32_t value) const {
    V_VT(&to) = VT_I4;
    V_I4(&to) = value;
    return {};
  }
  std::error_code operator()(double value) const {
    V_VT(&to) = VT_R8;
    V_R8(&to) = value;
    return {};
  }
  std::error_code operator()(Date value) const {
    V_VT(&to) = VT_DATE;
    V_DATE(&to) = value.value;
    return {};
  }
  std::error_code operator()(const std::u16string& text) const {
    win32::Bstr copy = win32::Bstr::Copy(text);
    if (!copy) return RuntimeError::kOutOfMemory;
    V_VT(&to) = VT_BSTR;
    V_BSTR(&to) = copy.detach();
    return {};
  }
  std::error_code operator()(bool value) const {
    V_VT(&to) = VT_BOOL;
    V_BOOL(&to) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return {};
  }
  std::error_code operator()(const ByteArray& array) const {
    return MakeVector(VT_UI1, array.lower_bound, array.bytes.size(), to, [&](void* data) {
      std::memcpy(data, array.bytes.data(), array.bytes.size());
      return std::error_code();
    });
  }
  std::error_code operator()(const VariantArray& array) const {
    return MakeVector(VT_VARIANT, array.lower_bound, array.elements.size(), to, [&](void* data) {
      auto* elements = static_cast<VARIANT*>(data);
      for (std::size_t i = 0; i < array.elements.size(); ++i) {
        if (const std::error_code status = ToVariant(array.elements[i], elements[i])) return status;
      }
      return std::error_code();
    });
  }
  std::error_code operator()(const ObjectRef& object) const {
    IDispatch* com = object == nullptr ? nullptr : DispatchOf(*object);
    // An object of this process that COM has never seen has no IDispatch
    // to hand over.
    if (object != nullptr && com == nullptr) return RuntimeError::kTypeMismatch;
    V_VT(&to) = VT_DISPATCH;
    V_DISPATCH(&to) = win32::ComPtr<IDispatch>::Share(com).detach();
    return {};
  }
};

std::error_code ToVariant(const Variant& from, VARIANT& to) { return std::visit(ToVariantVisitor{to}, from.value()); }

[[nodiscard]] std::error_code ArrayFromVariant(const VARIANT& from, Variant& to) {
  SAFEARRAY* array = V_ISBYREF(&from) ? *V_ARRAYREF(&from) : V_ARRAY(&from);
  if (array == nullptr || SafeArrayGetDim(array) != 1) return RuntimeError::kTypeMismatch;
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return RuntimeError::kTypeMismatch;
  }
  const std::size_t count = upper >= lower ? static_cast<std::size_t>(upper - lower) + 1 : 0;
  const VARTYPE element_type = static_cast<VARTYPE>(V_VT(&from) & VT_TYPEMASK);
  if (element_type != VT_UI1 && element_type != VT_VARIANT) return RuntimeError::kTypeMismatch;
  void* data = nullptr;
  if (count > 0 && FAILED(SafeArrayAccessData(array, &data))) return RuntimeError::kTypeMismatch;
  std::error_code status;
  if (element_type == VT_UI1) {
    ByteArray bytes{static_cast<std::int32_t>(lower), std::vector<std::uint8_t>(count)};
    if (count > 0) std::memcpy(bytes.bytes.data(), data, count);
    to = std::move(bytes);
  } else {
    VariantArray elements{static_cast<std::int32_t>(lower), std::vector<Variant>(count)};
    const auto* source = static_cast<const VARIANT*>(data);
    for (std::size_t i = 0; i < count && !status; ++i) status = FromVariant(source[i], elements.elements[i]);
    if (!status) to = std::move(elements);
  }
  // Cannot fail: the access above succeeded.
  if (count > 0) static_cast<void>(SafeArrayUnaccessData(array));
  return status;
}

// Integers wider than a Long, and the decimal types, as a number without loss
// where the value allows.
[[nodiscard]] std::error_code NumberFromVariant(const VARIANT& from, Variant& to, bool integer) {
  win32::ScopedVariant converted;
  if (integer && SUCCEEDED(VariantChangeType(converted.put(), Source(from), 0, VT_I4))) {
    to = static_cast<std::int32_t>(V_I4(&converted.get()));
    return {};
  }
  if (SUCCEEDED(VariantChangeType(converted.put(), Source(from), 0, VT_R8))) {
    to = V_R8(&converted.get());
    return {};
  }
  return RuntimeError::kTypeMismatch;
}

std::error_code FromVariant(const VARIANT& from, Variant& to) {
  if (V_ISARRAY(&from)) return ArrayFromVariant(from, to);
  if (V_ISBYREF(&from)) {
    win32::ScopedVariant value;
    if (const HRESULT hr = VariantCopyInd(value.put(), Source(from)); FAILED(hr)) return StatusOf(hr);
    return FromVariant(value.get(), to);
  }
  switch (V_VT(&from)) {
    case VT_EMPTY: to = Empty{}; return {};
    case VT_ERROR:
      if (V_ERROR(&from) != DISP_E_PARAMNOTFOUND) return RuntimeError::kTypeMismatch;
      to = Missing{};
      return {};
    case VT_I2: to = static_cast<std::int16_t>(V_I2(&from)); return {};
    case VT_UI1: to = static_cast<std::int16_t>(V_UI1(&from)); return {};
    case VT_I1: to = static_cast<std::int16_t>(V_I1(&from)); return {};
    case VT_I4: to = static_cast<std::int32_t>(V_I4(&from)); return {};
    case VT_UI2: to = static_cast<std::int32_t>(V_UI2(&from)); return {};
    case VT_R8: to = static_cast<double>(V_R8(&from)); return {};
    case VT_R4: to = static_cast<double>(V_R4(&from)); return {};
    case VT_DATE: to = Date{V_DATE(&from)}; return {};
    case VT_BSTR: {
      const BSTR text = V_BSTR(&from);
      to = text == nullptr ? std::u16string()
                           : std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
      return {};
    }
    case VT_BOOL: to = V_BOOL(&from) != VARIANT_FALSE; return {};
    case VT_DISPATCH: to = WrapDispatch(V_DISPATCH(&from)); return {};
    case VT_UNKNOWN: {
      IUnknown* unknown = V_UNKNOWN(&from);
      if (unknown == nullptr) {
        to = ObjectRef();
        return {};
      }
      win32::ComPtr<IDispatch> object;
      if (FAILED(unknown->QueryInterface(IID_IDispatch, object.put_void())) || !object) {
        return RuntimeError::kTypeMismatch;
      }
      ObjectRef wrapped = WrapDispatch(object.get());
      if (wrapped == nullptr) return RuntimeError::kOutOfMemory;
      to = std::move(wrapped);
      return {};
    }
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: return NumberFromVariant(from, to, true);
    case VT_CY:
    case VT_DECIMAL: return NumberFromVariant(from, to, false);
    default: return RuntimeError::kTypeMismatch;
  }
}

std::error_code ComDispatch::Invoke(std::u16string_view name, WORD flags, DISPPARAMS& params, Variant* result) {
  std::wstring wide(name.begin(), name.end());
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) {
    return StatusOf(hr);
  }
  win32::VariantList out(1);
  EXCEPINFO exception{};
  UINT argument_error = 0;
  const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                     result != nullptr ? &out[0] : nullptr, &exception, &argument_error);
  if (const std::error_code status = StatusOf(hr, &exception)) return status;
  return result != nullptr ? FromVariant(out[0], *result) : std::error_code();
}

std::error_code ComDispatch::PutProperty(std::u16string_view name, const Variant& value) {
  try {
    win32::VariantList args(1);
    if (const std::error_code status = ToVariant(value, args[0])) return status;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), &named, 1, 1};
    return Invoke(name, DISPATCH_PROPERTYPUT, params, nullptr);
  } catch (...) {
    return RuntimeError::kOutOfMemory;
  }
}

std::error_code ComDispatch::GetProperty(std::u16string_view name, Variant& result) {
  try {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant value;
    if (const std::error_code status = Invoke(name, DISPATCH_PROPERTYGET, params, &value)) return status;
    result = std::move(value);
    return {};
  } catch (...) {
    return RuntimeError::kOutOfMemory;
  }
}

std::error_code ComDispatch::Call(std::u16string_view name, std::span<Variant> args, Variant* result) {
  try {
    win32::VariantList list(args.size());
    // Invoke takes the arguments last first.
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (const std::error_code status = ToVariant(args[i], list[args.size() - 1 - i])) return status;
    }
    DISPPARAMS params{list.data(), nullptr, list.size(), 0};
    const WORD flags = result != nullptr ? WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET} : WORD{DISPATCH_METHOD};
    Variant value;
    if (const std::error_code status = Invoke(name, flags, params, result != nullptr ? &value : nullptr)) {
      return status;
    }
    if (result != nullptr) *result = std::move(value);
    return {};
  } catch (...) {
    return RuntimeError::kOutOfMemory;
  }
}

}  // namespace

std::error_code ToComVariant(const Variant& from, VARIANT& to) { return ToVariant(from, to); }

std::error_code FromComVariant(const VARIANT& from, Variant& to) { return FromVariant(from, to); }

ObjectRef WrapDispatch(IDispatch* object) {
  if (object == nullptr) return nullptr;
  try {
    return std::make_shared<ComDispatch>(object);
  } catch (...) {
    return nullptr;
  }
}

IDispatch* DispatchOf(const Dispatch& object) {
  const auto* com = dynamic_cast<const ComDispatch*>(&object);
  return com != nullptr ? com->object() : nullptr;
}

namespace {

// The runtime's own number for the dispatch failures it knows by name.
[[nodiscard]] std::error_code KnownFailure(HRESULT hresult) {
  switch (hresult) {
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME: return RuntimeError::kMemberNotFound;
    case DISP_E_BADPARAMCOUNT: return RuntimeError::kWrongArgumentCount;
    case DISP_E_TYPEMISMATCH: return RuntimeError::kTypeMismatch;
    case DISP_E_OVERFLOW: return RuntimeError::kOverflow;
    case DISP_E_PARAMNOTOPTIONAL: return RuntimeError::kArgumentNotOptional;
    case DISP_E_NONAMEDARGS: return RuntimeError::kNoNamedArguments;
    case DISP_E_PARAMNOTFOUND: return RuntimeError::kNamedArgumentNotFound;
    case DISP_E_BADVARTYPE: return RuntimeError::kUnsupportedType;
    case DISP_E_BADINDEX: return RuntimeError::kSubscriptOutOfRange;
    case E_OUTOFMEMORY: return RuntimeError::kOutOfMemory;
    case E_INVALIDARG: return RuntimeError::kInvalidProcedureCall;
    case E_NOINTERFACE: return RuntimeError::kNoAutomation;
    default: return {};
  }
}

}  // namespace

std::int32_t ErrorNumberFromHResult(std::int32_t hresult, EXCEPINFO* exception) {
  std::int32_t number = 0;
  if (hresult == DISP_E_EXCEPTION) {
    number = ErrorNumber(RuntimeError::kAutomationError);
    if (exception != nullptr) {
      // Its result says nothing the filled-in fields do not.
      if (exception->pfnDeferredFillIn != nullptr) static_cast<void>(exception->pfnDeferredFillIn(exception));
      if (exception->wCode != 0) {
        number = exception->wCode;
      } else if ((exception->scode & 0xFFFF) != 0) {
        number = static_cast<std::int32_t>(exception->scode & 0xFFFF);
      }
    }
  } else if (FAILED(hresult)) {
    if (const std::error_code known = KnownFailure(hresult)) {
      number = ErrorNumber(known);
    } else if (HRESULT_FACILITY(hresult) == FACILITY_CONTROL && (hresult & 0xFFFF) != 0) {
      number = hresult & 0xFFFF;
    } else {
      number = hresult;
    }
  }
  // Whoever filled them, the strings are ours to free: taken over here, they
  // go at the end of this block.
  if (exception != nullptr) {
    const win32::Bstr source(std::exchange(exception->bstrSource, nullptr));
    const win32::Bstr description(std::exchange(exception->bstrDescription, nullptr));
    const win32::Bstr help_file(std::exchange(exception->bstrHelpFile, nullptr));
  }
  return number;
}

}  // namespace dovel::platform::automation
