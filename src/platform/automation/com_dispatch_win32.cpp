#include "platform/automation/com_dispatch_win32.h"
#include "platform/automation/variant_win32.h"

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/automation/conversions.h"

namespace dovel::platform::automation {
namespace {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "automation text is UTF-16 on Windows");

// This file translates between HRESULTs and runtime error numbers, so it
// works in bare numbers; statuses leave it typed.
constexpr std::int32_t kErrInvalidCall = ErrorNumber(RuntimeError::kInvalidProcedureCall);
constexpr std::int32_t kErrOverflow = ErrorNumber(RuntimeError::kOverflow);
constexpr std::int32_t kErrOutOfMemory = ErrorNumber(RuntimeError::kOutOfMemory);
constexpr std::int32_t kErrSubscriptOutOfRange = ErrorNumber(RuntimeError::kSubscriptOutOfRange);
constexpr std::int32_t kErrTypeMismatch = ErrorNumber(RuntimeError::kTypeMismatch);
constexpr std::int32_t kErrNoAutomation = ErrorNumber(RuntimeError::kNoAutomation);
constexpr std::int32_t kErrMemberNotFound = ErrorNumber(RuntimeError::kMemberNotFound);
constexpr std::int32_t kErrAutomation = ErrorNumber(RuntimeError::kAutomationError);
constexpr std::int32_t kErrNoNamedArguments = ErrorNumber(RuntimeError::kNoNamedArguments);
constexpr std::int32_t kErrNamedArgumentNotFound = ErrorNumber(RuntimeError::kNamedArgumentNotFound);
constexpr std::int32_t kErrArgumentNotOptional = ErrorNumber(RuntimeError::kArgumentNotOptional);
constexpr std::int32_t kErrWrongArgumentCount = ErrorNumber(RuntimeError::kWrongArgumentCount);
constexpr std::int32_t kErrUnsupportedType = ErrorNumber(RuntimeError::kUnsupportedType);

// VARIANTs that are cleared when they go, whatever they came to hold.
class VariantList {
 public:
  explicit VariantList(std::size_t count) : items_(count) {
    for (VARIANT& item : items_) VariantInit(&item);
  }
  ~VariantList() {
    for (VARIANT& item : items_) VariantClear(&item);
  }
  VariantList(const VariantList&) = delete;
  VariantList& operator=(const VariantList&) = delete;

  VARIANT& operator[](std::size_t index) { return items_[index]; }
  VARIANT* data() { return items_.data(); }
  UINT size() const { return static_cast<UINT>(items_.size()); }

 private:
  std::vector<VARIANT> items_;
};

class ComDispatch final : public Dispatch {
 public:
  explicit ComDispatch(IDispatch* object) : object_(object) { object_->AddRef(); }
  ~ComDispatch() override { object_->Release(); }
  ComDispatch(const ComDispatch&) = delete;
  ComDispatch& operator=(const ComDispatch&) = delete;

  IDispatch* object() const { return object_; }

  std::error_code PutProperty(std::u16string_view name, const Variant& value) override {
    return RuntimeStatus(PutNumber(name, value));
  }
  std::error_code GetProperty(std::u16string_view name, Variant& result) override {
    return RuntimeStatus(GetNumber(name, result));
  }
  std::error_code Call(std::u16string_view name, std::span<Variant> args, Variant* result) override {
    return RuntimeStatus(CallNumber(name, args, result));
  }

 private:
  std::int32_t PutNumber(std::u16string_view name, const Variant& value);
  std::int32_t GetNumber(std::u16string_view name, Variant& result);
  std::int32_t CallNumber(std::u16string_view name, std::span<Variant> args, Variant* result);
  std::int32_t Invoke(std::u16string_view name, WORD flags, DISPPARAMS& params, Variant* result);

  IDispatch* object_;
};

// The system's conversion calls only read their source but are declared
// without const.
VARIANT* Source(const VARIANT& from) { return const_cast<VARIANT*>(&from); }

std::int32_t ToVariant(const Variant& from, VARIANT& to);
std::int32_t FromVariant(const VARIANT& from, Variant& to);

// Fills a fresh one-dimensional array; `fill` gets the element storage.
template <class Fill>
std::int32_t MakeVector(VARTYPE element_type, std::int32_t lower_bound, std::size_t count, VARIANT& to,
                        Fill fill) {
  SAFEARRAY* array = SafeArrayCreateVector(element_type, lower_bound, static_cast<ULONG>(count));
  if (array == nullptr) return kErrOutOfMemory;
  std::int32_t error = 0;
  if (count > 0) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
      error = kErrOutOfMemory;
    } else {
      error = fill(data);
      SafeArrayUnaccessData(array);
    }
  }
  if (error != 0) {
    SafeArrayDestroy(array);  // also clears elements already filled
    return error;
  }
  V_VT(&to) = static_cast<VARTYPE>(VT_ARRAY | element_type);
  V_ARRAY(&to) = array;
  return 0;
}

struct ToVariantVisitor {
  VARIANT& to;

  std::int32_t operator()(Empty) const {
    V_VT(&to) = VT_EMPTY;
    return 0;
  }
  std::int32_t operator()(Missing) const {
    V_VT(&to) = VT_ERROR;
    V_ERROR(&to) = DISP_E_PARAMNOTFOUND;
    return 0;
  }
  std::int32_t operator()(std::int16_t value) const {
    V_VT(&to) = VT_I2;
    V_I2(&to) = value;
    return 0;
  }
  std::int32_t operator()(Int16Ref ref) const {
    if (ref.target == nullptr) return kErrTypeMismatch;
    // The callee reads and writes the caller's own variable.
    V_VT(&to) = VT_I2 | VT_BYREF;
    V_I2REF(&to) = ref.target;
    return 0;
  }
  std::int32_t operator()(std::int32_t value) const {
    V_VT(&to) = VT_I4;
    V_I4(&to) = value;
    return 0;
  }
  std::int32_t operator()(double value) const {
    V_VT(&to) = VT_R8;
    V_R8(&to) = value;
    return 0;
  }
  std::int32_t operator()(Date value) const {
    V_VT(&to) = VT_DATE;
    V_DATE(&to) = value.value;
    return 0;
  }
  std::int32_t operator()(const std::u16string& text) const {
    BSTR copy = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    if (copy == nullptr) return kErrOutOfMemory;
    V_VT(&to) = VT_BSTR;
    V_BSTR(&to) = copy;
    return 0;
  }
  std::int32_t operator()(bool value) const {
    V_VT(&to) = VT_BOOL;
    V_BOOL(&to) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return 0;
  }
  std::int32_t operator()(const ByteArray& array) const {
    return MakeVector(VT_UI1, array.lower_bound, array.bytes.size(), to, [&](void* data) {
      std::memcpy(data, array.bytes.data(), array.bytes.size());
      return std::int32_t{0};
    });
  }
  std::int32_t operator()(const VariantArray& array) const {
    return MakeVector(VT_VARIANT, array.lower_bound, array.elements.size(), to, [&](void* data) {
      auto* elements = static_cast<VARIANT*>(data);
      for (std::size_t i = 0; i < array.elements.size(); ++i) {
        if (const std::int32_t error = ToVariant(array.elements[i], elements[i]); error != 0) return error;
      }
      return std::int32_t{0};
    });
  }
  std::int32_t operator()(const ObjectRef& object) const {
    IDispatch* com = object == nullptr ? nullptr : DispatchOf(*object);
    // An object of this process that COM has never seen has no IDispatch
    // to hand over.
    if (object != nullptr && com == nullptr) return kErrTypeMismatch;
    if (com != nullptr) com->AddRef();
    V_VT(&to) = VT_DISPATCH;
    V_DISPATCH(&to) = com;
    return 0;
  }
};

std::int32_t ToVariant(const Variant& from, VARIANT& to) { return std::visit(ToVariantVisitor{to}, from.value()); }

std::int32_t ArrayFromVariant(const VARIANT& from, Variant& to) {
  SAFEARRAY* array = V_ISBYREF(&from) ? *V_ARRAYREF(&from) : V_ARRAY(&from);
  if (array == nullptr || SafeArrayGetDim(array) != 1) return kErrTypeMismatch;
  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return kErrTypeMismatch;
  }
  const std::size_t count = upper >= lower ? static_cast<std::size_t>(upper - lower) + 1 : 0;
  const VARTYPE element_type = static_cast<VARTYPE>(V_VT(&from) & VT_TYPEMASK);
  if (element_type != VT_UI1 && element_type != VT_VARIANT) return kErrTypeMismatch;
  void* data = nullptr;
  if (count > 0 && FAILED(SafeArrayAccessData(array, &data))) return kErrTypeMismatch;
  std::int32_t error = 0;
  if (element_type == VT_UI1) {
    ByteArray bytes{static_cast<std::int32_t>(lower), std::vector<std::uint8_t>(count)};
    if (count > 0) std::memcpy(bytes.bytes.data(), data, count);
    to = std::move(bytes);
  } else {
    VariantArray elements{static_cast<std::int32_t>(lower), std::vector<Variant>(count)};
    const auto* source = static_cast<const VARIANT*>(data);
    for (std::size_t i = 0; i < count && error == 0; ++i) error = FromVariant(source[i], elements.elements[i]);
    if (error == 0) to = std::move(elements);
  }
  if (count > 0) SafeArrayUnaccessData(array);
  return error;
}

// Integers wider than a Long, and the decimal types, as a number without loss
// where the value allows.
std::int32_t NumberFromVariant(const VARIANT& from, Variant& to, bool integer) {
  VARIANT converted;
  VariantInit(&converted);
  if (integer && SUCCEEDED(VariantChangeType(&converted, Source(from), 0, VT_I4))) {
    to = static_cast<std::int32_t>(V_I4(&converted));
    return 0;
  }
  if (SUCCEEDED(VariantChangeType(&converted, Source(from), 0, VT_R8))) {
    to = V_R8(&converted);
    return 0;
  }
  return kErrTypeMismatch;
}

std::int32_t FromVariant(const VARIANT& from, Variant& to) {
  if (V_ISARRAY(&from)) return ArrayFromVariant(from, to);
  if (V_ISBYREF(&from)) {
    VARIANT value;
    VariantInit(&value);
    if (const HRESULT hr = VariantCopyInd(&value, Source(from)); FAILED(hr)) return ErrorNumberFromHResult(hr);
    const std::int32_t error = FromVariant(value, to);
    VariantClear(&value);
    return error;
  }
  switch (V_VT(&from)) {
    case VT_EMPTY:
      to = Empty{};
      return 0;
    case VT_ERROR:
      if (V_ERROR(&from) != DISP_E_PARAMNOTFOUND) return kErrTypeMismatch;
      to = Missing{};
      return 0;
    case VT_I2:
      to = static_cast<std::int16_t>(V_I2(&from));
      return 0;
    case VT_UI1:
      to = static_cast<std::int16_t>(V_UI1(&from));
      return 0;
    case VT_I1:
      to = static_cast<std::int16_t>(V_I1(&from));
      return 0;
    case VT_I4:
      to = static_cast<std::int32_t>(V_I4(&from));
      return 0;
    case VT_UI2:
      to = static_cast<std::int32_t>(V_UI2(&from));
      return 0;
    case VT_R8:
      to = static_cast<double>(V_R8(&from));
      return 0;
    case VT_R4:
      to = static_cast<double>(V_R4(&from));
      return 0;
    case VT_DATE:
      to = Date{V_DATE(&from)};
      return 0;
    case VT_BSTR: {
      const BSTR text = V_BSTR(&from);
      to = text == nullptr ? std::u16string()
                           : std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
      return 0;
    }
    case VT_BOOL:
      to = V_BOOL(&from) != VARIANT_FALSE;
      return 0;
    case VT_DISPATCH:
      to = WrapDispatch(V_DISPATCH(&from));
      return 0;
    case VT_UNKNOWN: {
      IUnknown* unknown = V_UNKNOWN(&from);
      if (unknown == nullptr) {
        to = ObjectRef();
        return 0;
      }
      IDispatch* object = nullptr;
      if (FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object))) || object == nullptr) {
        return kErrTypeMismatch;
      }
      ObjectRef wrapped = WrapDispatch(object);
      object->Release();
      if (wrapped == nullptr) return kErrOutOfMemory;
      to = std::move(wrapped);
      return 0;
    }
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
      return NumberFromVariant(from, to, true);
    case VT_CY:
    case VT_DECIMAL:
      return NumberFromVariant(from, to, false);
    default:
      return kErrTypeMismatch;
  }
}

std::int32_t ComDispatch::Invoke(std::u16string_view name, WORD flags, DISPPARAMS& params, Variant* result) {
  std::wstring wide(name.begin(), name.end());
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) {
    return ErrorNumberFromHResult(hr);
  }
  VariantList out(1);
  EXCEPINFO exception{};
  UINT argument_error = 0;
  const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                     result != nullptr ? &out[0] : nullptr, &exception, &argument_error);
  if (const std::int32_t error = ErrorNumberFromHResult(hr, &exception); error != 0) return error;
  return result != nullptr ? FromVariant(out[0], *result) : 0;
}

std::int32_t ComDispatch::PutNumber(std::u16string_view name, const Variant& value) {
  try {
    VariantList args(1);
    if (const std::int32_t error = ToVariant(value, args[0]); error != 0) return error;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), &named, 1, 1};
    return Invoke(name, DISPATCH_PROPERTYPUT, params, nullptr);
  } catch (...) {
    return kErrOutOfMemory;
  }
}

std::int32_t ComDispatch::GetNumber(std::u16string_view name, Variant& result) {
  try {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant value;
    if (const std::int32_t error = Invoke(name, DISPATCH_PROPERTYGET, params, &value); error != 0) return error;
    result = std::move(value);
    return 0;
  } catch (...) {
    return kErrOutOfMemory;
  }
}

std::int32_t ComDispatch::CallNumber(std::u16string_view name, std::span<Variant> args, Variant* result) {
  try {
    VariantList list(args.size());
    // Invoke takes the arguments last first.
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (const std::int32_t error = ToVariant(args[i], list[args.size() - 1 - i]); error != 0) return error;
    }
    DISPPARAMS params{list.data(), nullptr, list.size(), 0};
    const WORD flags = result != nullptr ? WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET} : WORD{DISPATCH_METHOD};
    Variant value;
    if (const std::int32_t error = Invoke(name, flags, params, result != nullptr ? &value : nullptr); error != 0) {
      return error;
    }
    if (result != nullptr) *result = std::move(value);
    return 0;
  } catch (...) {
    return kErrOutOfMemory;
  }
}

}  // namespace

std::int32_t ToComVariant(const Variant& from, VARIANT& to) { return ToVariant(from, to); }

std::int32_t FromComVariant(const VARIANT& from, Variant& to) { return FromVariant(from, to); }

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

std::int32_t ErrorNumberFromHResult(std::int32_t hresult, EXCEPINFO* exception) {
  std::int32_t number = 0;
  if (hresult == DISP_E_EXCEPTION) {
    number = kErrAutomation;
    if (exception != nullptr) {
      if (exception->pfnDeferredFillIn != nullptr) exception->pfnDeferredFillIn(exception);
      if (exception->wCode != 0) {
        number = exception->wCode;
      } else if ((exception->scode & 0xFFFF) != 0) {
        number = static_cast<std::int32_t>(exception->scode & 0xFFFF);
      }
    }
  } else if (SUCCEEDED(hresult)) {
    number = 0;
  } else {
    switch (hresult) {
      case DISP_E_MEMBERNOTFOUND:
      case DISP_E_UNKNOWNNAME:
        number = kErrMemberNotFound;
        break;
      case DISP_E_BADPARAMCOUNT:
        number = kErrWrongArgumentCount;
        break;
      case DISP_E_TYPEMISMATCH:
        number = kErrTypeMismatch;
        break;
      case DISP_E_OVERFLOW:
        number = kErrOverflow;
        break;
      case DISP_E_PARAMNOTOPTIONAL:
        number = kErrArgumentNotOptional;
        break;
      case DISP_E_NONAMEDARGS:
        number = kErrNoNamedArguments;
        break;
      case DISP_E_PARAMNOTFOUND:
        number = kErrNamedArgumentNotFound;
        break;
      case DISP_E_BADVARTYPE:
        number = kErrUnsupportedType;
        break;
      case DISP_E_BADINDEX:
        number = kErrSubscriptOutOfRange;
        break;
      case E_OUTOFMEMORY:
        number = kErrOutOfMemory;
        break;
      case E_INVALIDARG:
        number = kErrInvalidCall;
        break;
      case E_NOINTERFACE:
        number = kErrNoAutomation;
        break;
      default:
        number = HRESULT_FACILITY(hresult) == FACILITY_CONTROL && (hresult & 0xFFFF) != 0 ? (hresult & 0xFFFF)
                                                                                          : hresult;
        break;
    }
  }
  // Whoever filled them, the strings are ours to free.
  if (exception != nullptr) {
    SysFreeString(exception->bstrSource);
    SysFreeString(exception->bstrDescription);
    SysFreeString(exception->bstrHelpFile);
    exception->bstrSource = nullptr;
    exception->bstrDescription = nullptr;
    exception->bstrHelpFile = nullptr;
  }
  return number;
}

}  // namespace dovel::platform::automation
