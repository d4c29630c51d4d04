// Late-bound calls through IDispatch, against a small COM object written
// here: it records how Invoke was called and echoes or changes what it gets.
#include "platform/automation/com_dispatch_win32.h"

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/automation/com_ptr_win32.h"
#include "platform/automation/com_values_win32.h"
#include "platform/automation/conversions.h"

namespace dovel::platform::automation {
namespace {

using ::testing::ElementsAre;

enum Member : DISPID { kValue = 1, kEcho, kOrder, kBump, kFail, kChild, kRaw };

class ScriptedObject final : public IDispatch {
 public:
  ScriptedObject() = default;
  ScriptedObject(const ScriptedObject&) = delete;
  ScriptedObject& operator=(const ScriptedObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    static const std::map<std::wstring, DISPID> kMembers = {{L"Value", kValue}, {L"Echo", kEcho}, {L"Order", kOrder},
                                                            {L"Bump", kBump},   {L"Fail", kFail}, {L"Child", kChild},
                                                            {L"Raw", kRaw}};
    if (count != 1) return E_INVALIDARG;
    const auto found = kMembers.find(names[0]);
    if (found == kMembers.end()) {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    ids[0] = found->second;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) override {
    last_flags = flags;
    last_named.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
    last_types.clear();
    for (UINT i = 0; i < params->cArgs; ++i) last_types.push_back(V_VT(&params->rgvarg[i]));
    switch (id) {
      case kValue:
        if (flags & DISPATCH_PROPERTYPUT) {
          if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
          return VariantCopy(value_.put(), &params->rgvarg[0]);
        }
        return result != nullptr ? VariantCopy(result, &value_.get()) : S_OK;
      case kEcho:
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        return result != nullptr ? VariantCopy(result, &params->rgvarg[0]) : S_OK;
      case kOrder: {
        // The arguments as the callee numbers them, first to last.
        std::wstring order;
        for (UINT i = params->cArgs; i-- > 0;) {
          if (V_VT(&params->rgvarg[i]) != VT_I4) return DISP_E_TYPEMISMATCH;
          order += std::to_wstring(V_I4(&params->rgvarg[i]));
        }
        if (result != nullptr) {
          V_VT(result) = VT_BSTR;
          V_BSTR(result) = SysAllocString(order.c_str());
        }
        return S_OK;
      }
      case kBump:
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (V_VT(&params->rgvarg[0]) != (VT_I2 | VT_BYREF)) return DISP_E_TYPEMISMATCH;
        bumped_at = V_I2REF(&params->rgvarg[0]);
        *bumped_at += 1;
        return S_OK;
      case kFail:
        if (fail_with != DISP_E_EXCEPTION) return fail_with;
        exception->wCode = fail_code;
        exception->scode = fail_scode;
        exception->bstrSource = SysAllocString(L"ScriptedObject");
        exception->bstrDescription = SysAllocString(L"failed on purpose");
        return DISP_E_EXCEPTION;
      case kChild:
        if (child == nullptr) return DISP_E_MEMBERNOTFOUND;
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = win32::ComPtr<IDispatch>::Share(child).detach();
        return S_OK;
      case kRaw: return result != nullptr ? VariantCopy(result, &raw_.get()) : S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

  ULONG references() const { return references_; }
  win32::ScopedVariant& raw() { return raw_; }
  const VARIANT& value() const { return value_.get(); }

  WORD last_flags = 0;
  std::vector<DISPID> last_named;
  std::vector<VARTYPE> last_types;
  SHORT* bumped_at = nullptr;
  HRESULT fail_with = DISP_E_EXCEPTION;
  WORD fail_code = 0;
  SCODE fail_scode = 0;
  IDispatch* child = nullptr;

 private:
  ULONG references_ = 1;
  win32::ScopedVariant value_;
  win32::ScopedVariant raw_;
};

// A Dispatch of this process, never seen by COM.
class LocalObject final : public Dispatch {
 public:
  std::error_code PutProperty(std::u16string_view, const Variant&) override { return {}; }
  std::error_code GetProperty(std::u16string_view, Variant&) override { return {}; }
  std::error_code Call(std::u16string_view, std::span<Variant>, Variant*) override { return {}; }
};

Variant Echo(Dispatch& object, Variant value) {
  Variant args[] = {std::move(value)};
  Variant result = std::u16string(u"untouched");
  const std::error_code error = object.Call(u"Echo", args, &result);
  EXPECT_EQ(error, std::error_code());
  return result;
}

TEST(ComDispatch, PutAndGetUseThePropertyFlagsAndTheNamedArgumentOfAPut) {
  ScriptedObject com;
  {
    const ObjectRef object = WrapDispatch(&com);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(com.references(), 2u);
    EXPECT_EQ(object->PutProperty(u"Value", std::int32_t{42}), std::error_code());
    EXPECT_EQ(com.last_flags, DISPATCH_PROPERTYPUT);
    EXPECT_THAT(com.last_named, ElementsAre(DISPID_PROPERTYPUT));
    EXPECT_THAT(com.last_types, ElementsAre(VT_I4));
    Variant value;
    EXPECT_EQ(object->GetProperty(u"Value", value), std::error_code());
    EXPECT_EQ(com.last_flags, DISPATCH_PROPERTYGET);
    EXPECT_TRUE(com.last_named.empty());
    EXPECT_EQ(value, Variant(std::int32_t{42}));
  }
  EXPECT_EQ(com.references(), 1u) << "the wrapper releases what it holds";
  EXPECT_EQ(WrapDispatch(nullptr), nullptr);
}

TEST(ComDispatch, ArgumentsGoInReverseOrderAndACallWithAResultMayReadAProperty) {
  ScriptedObject com;
  const ObjectRef object = WrapDispatch(&com);
  Variant args[] = {std::int32_t{1}, std::int32_t{2}, std::int32_t{3}};
  Variant result;
  ASSERT_EQ(object->Call(u"Order", args, &result), std::error_code());
  EXPECT_EQ(result, Variant(u"123"));
  EXPECT_EQ(com.last_flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  EXPECT_TRUE(com.last_named.empty());
  ASSERT_EQ(object->Call(u"Order", args, nullptr), std::error_code());
  EXPECT_EQ(com.last_flags, DISPATCH_METHOD);
  EXPECT_EQ(object->Call(u"Order", {}, &result), std::error_code());
  EXPECT_EQ(result, Variant(u""));
}

TEST(ComDispatch, AByReferenceInt16IsTheCallersOwnVariable) {
  ScriptedObject com;
  const ObjectRef object = WrapDispatch(&com);
  std::int16_t counter = 41;
  Variant args[] = {Int16Ref{&counter}};
  ASSERT_EQ(object->Call(u"Bump", args, nullptr), std::error_code());
  EXPECT_EQ(com.bumped_at, &counter);
  EXPECT_EQ(counter, 42);
  Variant by_value[] = {std::int16_t{41}};
  EXPECT_EQ(object->Call(u"Bump", by_value, nullptr), RuntimeError::kTypeMismatch);
  Variant dangling[] = {Int16Ref{}};
  EXPECT_EQ(object->Call(u"Bump", dangling, nullptr), RuntimeError::kTypeMismatch);
}

TEST(ComDispatch, EveryVariantTypeTravelsAsItsAutomationTypeAndBack) {
  ScriptedObject com;
  const ObjectRef object = WrapDispatch(&com);
  const std::u16string text(u"caf\u00e9\0tail", 9);
  const std::vector<Variant> values = {
      Empty{},
      Missing{},
      std::int16_t{-32768},
      std::int32_t{-2147483647 - 1},
      2.5,
      Date{45634.75},
      text,
      std::u16string(),
      true,
      false,
      ByteArray{5, {0, 1, 255}},
      ByteArray{0, {}},
      VariantArray{-1, {std::int16_t{7}, std::u16string(u"x"), VariantArray{1, {true}}, ByteArray{2, {9}}}},
  };
  const std::vector<VARTYPE> types = {VT_EMPTY,
                                      VT_ERROR,
                                      VT_I2,
                                      VT_I4,
                                      VT_R8,
                                      VT_DATE,
                                      VT_BSTR,
                                      VT_BSTR,
                                      VT_BOOL,
                                      VT_BOOL,
                                      VT_ARRAY | VT_UI1,
                                      VT_ARRAY | VT_UI1,
                                      VT_ARRAY | VT_VARIANT};
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Echo(*object, values[i]), values[i]);
    EXPECT_THAT(com.last_types, ElementsAre(types[i]));
  }
  // What the callee stores is what automation expects to find there.
  ASSERT_EQ(object->PutProperty(u"Value", true), std::error_code());
  EXPECT_EQ(V_BOOL(&com.value()), VARIANT_TRUE);
  ASSERT_EQ(object->PutProperty(u"Value", Missing{}), std::error_code());
  EXPECT_EQ(V_ERROR(&com.value()), DISP_E_PARAMNOTFOUND);
  ASSERT_EQ(object->PutProperty(u"Value", ByteArray{5, {1, 2}}), std::error_code());
  LONG lower = 0;
  LONG upper = 0;
  SafeArrayGetLBound(V_ARRAY(&com.value()), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&com.value()), 1, &upper);
  EXPECT_EQ(lower, 5);
  EXPECT_EQ(upper, 6);
}

TEST(ComDispatch, OtherResultTypesConvertWithoutLossOrAreATypeMismatch) {
  ScriptedObject com;
  const ObjectRef object = WrapDispatch(&com);
  const auto read_raw = [&](const std::function<void(VARIANT&)>& set, Variant& result) {
    set(*com.raw().put());
    return object->Call(u"Raw", {}, &result);
  };
  Variant result;
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  V_VT(&v) = VT_UI1;
                  V_UI1(&v) = 200;
                },
                result),
            std::error_code());
  EXPECT_EQ(result, Variant(std::int16_t{200}));
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  V_VT(&v) = VT_UI2;
                  V_UI2(&v) = 60000;
                },
                result),
            std::error_code());
  EXPECT_EQ(result, Variant(std::int32_t{60000}));
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  V_VT(&v) = VT_I8;
                  V_I8(&v) = 77;
                },
                result),
            std::error_code());
  EXPECT_EQ(result, Variant(std::int32_t{77}));
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  V_VT(&v) = VT_I8;
                  V_I8(&v) = 1LL << 40;
                },
                result),
            std::error_code());
  EXPECT_EQ(result, Variant(1099511627776.0));
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  V_VT(&v) = VT_R4;
                  V_R4(&v) = 0.5f;
                },
                result),
            std::error_code());
  EXPECT_EQ(result, Variant(0.5));

  result = std::int32_t{-1};
  EXPECT_EQ(read_raw([](VARIANT& v) { V_VT(&v) = VT_NULL; }, result), RuntimeError::kTypeMismatch);
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  V_VT(&v) = VT_ERROR;
                  V_ERROR(&v) = E_FAIL;
                },
                result),
            RuntimeError::kTypeMismatch);
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
                  V_VT(&v) = VT_ARRAY | VT_UI1;
                  V_ARRAY(&v) = SafeArrayCreate(VT_UI1, 2, bounds);
                },
                result),
            RuntimeError::kTypeMismatch);
  EXPECT_EQ(read_raw(
                [](VARIANT& v) {
                  V_VT(&v) = VT_ARRAY | VT_I4;
                  V_ARRAY(&v) = SafeArrayCreateVector(VT_I4, 0, 2);
                },
                result),
            RuntimeError::kTypeMismatch);
  EXPECT_EQ(result, Variant(std::int32_t{-1})) << "a failed call leaves the result alone";
  com.raw().Clear();
}

TEST(ComDispatch, ObjectsFromComComeBackAsTheSameComObjects) {
  ScriptedObject com;
  ScriptedObject child;
  com.child = &child;
  {
    const ObjectRef object = WrapDispatch(&com);
    Variant got;
    ASSERT_EQ(object->GetProperty(u"Child", got), std::error_code());
    ASSERT_TRUE(got.Is<ObjectRef>());
    const ObjectRef child_ref = got.As<ObjectRef>();
    EXPECT_EQ(DispatchOf(*child_ref), &child);
    EXPECT_EQ(child_ref->PutProperty(u"Value", std::int16_t{3}), std::error_code());
    EXPECT_EQ(V_I2(&child.value()), 3);

    const Variant back = Echo(*object, child_ref);
    ASSERT_TRUE(back.Is<ObjectRef>());
    EXPECT_EQ(DispatchOf(*back.As<ObjectRef>()), &child);
    EXPECT_EQ(Echo(*object, ObjectRef()), Variant(ObjectRef()));

    Variant local[] = {ObjectRef(std::make_shared<LocalObject>())};
    Variant result;
    com.last_types.clear();
    EXPECT_EQ(object->Call(u"Echo", local, &result), RuntimeError::kTypeMismatch);
    EXPECT_TRUE(com.last_types.empty()) << "nothing is called with an argument that cannot be passed";
    EXPECT_EQ(DispatchOf(LocalObject()), nullptr);
  }
  EXPECT_EQ(com.references(), 1u);
  EXPECT_EQ(child.references(), 1u);
}

TEST(ComDispatch, FailuresBecomeAutomationErrorNumbers) {
  ScriptedObject com;
  const ObjectRef object = WrapDispatch(&com);
  Variant result = std::int32_t{9};
  EXPECT_EQ(object->GetProperty(u"NoSuchMember", result), RuntimeError::kMemberNotFound);
  EXPECT_EQ(object->Call(u"NoSuchMember", {}, nullptr), RuntimeError::kMemberNotFound);
  EXPECT_EQ(object->PutProperty(u"NoSuchMember", Empty{}), RuntimeError::kMemberNotFound);
  EXPECT_EQ(object->Call(u"Echo", {}, &result), RuntimeError::kWrongArgumentCount);
  EXPECT_EQ(result, Variant(std::int32_t{9}));

  const auto fail = [&](HRESULT hr, WORD code = 0, SCODE scode = 0) {
    com.fail_with = hr;
    com.fail_code = code;
    com.fail_scode = scode;
    return ErrorNumber(object->Call(u"Fail", {}, nullptr));
  };
  EXPECT_EQ(fail(DISP_E_EXCEPTION, 1234), 1234);
  EXPECT_EQ(fail(DISP_E_EXCEPTION, 0, static_cast<SCODE>(0x800A0035)), 53);
  EXPECT_EQ(fail(DISP_E_EXCEPTION), 440);
  EXPECT_EQ(fail(DISP_E_MEMBERNOTFOUND), ErrorNumber(RuntimeError::kMemberNotFound));
  EXPECT_EQ(fail(DISP_E_BADPARAMCOUNT), ErrorNumber(RuntimeError::kWrongArgumentCount));
  EXPECT_EQ(fail(DISP_E_TYPEMISMATCH), ErrorNumber(RuntimeError::kTypeMismatch));
  EXPECT_EQ(fail(DISP_E_OVERFLOW), ErrorNumber(RuntimeError::kOverflow));
  EXPECT_EQ(fail(DISP_E_PARAMNOTOPTIONAL), 449);
  EXPECT_EQ(fail(E_OUTOFMEMORY), 7);
  EXPECT_EQ(fail(static_cast<HRESULT>(0x800A000B)), 11);
  EXPECT_EQ(fail(E_FAIL), static_cast<std::int32_t>(E_FAIL));
  EXPECT_EQ(fail(S_FALSE), 0);
}

TEST(ComDispatch, ExceptionDetailsFilledInLateAreReadAndFreed) {
  EXCEPINFO info{};
  info.pfnDeferredFillIn = [](EXCEPINFO* late) -> HRESULT {
    late->wCode = 91;
    late->bstrDescription = SysAllocString(L"filled in late");
    return S_OK;
  };
  EXPECT_EQ(ErrorNumberFromHResult(DISP_E_EXCEPTION, &info), 91);
  EXPECT_EQ(info.bstrDescription, nullptr);
  EXPECT_EQ(ErrorNumberFromHResult(DISP_E_EXCEPTION, nullptr), 440);
  EXPECT_EQ(ErrorNumberFromHResult(DISP_E_UNKNOWNNAME), ErrorNumber(RuntimeError::kMemberNotFound));
}

}  // namespace
}  // namespace dovel::platform::automation
