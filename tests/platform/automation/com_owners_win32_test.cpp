// The owners of COM references, automation values and system handles: who
// holds a reference after each operation, observed on a counting object.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/automation/com_ptr_win32.h"
#include "platform/automation/com_values_win32.h"
#include "platform/com_server/win32_handles.h"

namespace dovel::platform::win32 {
namespace {

// Lives on the test's stack; answers for IUnknown only. Starts with the one
// reference a creator hands out.
class Counted final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }

  ULONG references = 1;
};

TEST(ComPtr, AdoptTakesOverTheGivenReferenceAndShareTakesOneOfItsOwn) {
  Counted object;
  {
    const ComPtr<IUnknown> adopted = ComPtr<IUnknown>::Adopt(&object);
    EXPECT_EQ(object.references, 1u);
    {
      const ComPtr<IUnknown> shared = adopted.Share();
      EXPECT_EQ(object.references, 2u);
      EXPECT_EQ(shared.get(), adopted.get());
    }
    EXPECT_EQ(object.references, 1u);
  }
  EXPECT_EQ(object.references, 0u);
  EXPECT_FALSE(ComPtr<IUnknown>::Share(nullptr));
}

TEST(ComPtr, MovingHandsTheReferenceOverAndAssigningReleasesTheOldOne) {
  Counted first;
  Counted second;
  ComPtr<IUnknown> a = ComPtr<IUnknown>::Adopt(&first);
  ComPtr<IUnknown> b = std::move(a);
  EXPECT_FALSE(a);  // NOLINT: moved from on purpose
  EXPECT_EQ(first.references, 1u);
  b = ComPtr<IUnknown>::Adopt(&second);
  EXPECT_EQ(first.references, 0u);
  EXPECT_EQ(second.references, 1u);
  b = nullptr;
  EXPECT_EQ(second.references, 0u);
}

TEST(ComPtr, PutDropsWhatItHeldBeforeAnOutParameterIsFilled) {
  Counted held;
  Counted given;
  ComPtr<IUnknown> pointer = ComPtr<IUnknown>::Adopt(&held);
  IUnknown** slot = pointer.put();
  EXPECT_EQ(held.references, 0u);
  EXPECT_EQ(*slot, nullptr);
  *slot = &given;  // as a callee fills an out-parameter: with its one reference
  EXPECT_EQ(pointer.get(), &given);
  pointer.reset();
  EXPECT_EQ(given.references, 0u);
}

TEST(ComPtr, DetachAndCopyToHandReferencesToTheCaller) {
  Counted object;
  ComPtr<IUnknown> pointer = ComPtr<IUnknown>::Adopt(&object);
  IUnknown* out = nullptr;
  ASSERT_EQ(pointer.CopyTo(&out), S_OK);
  EXPECT_EQ(out, &object);
  EXPECT_EQ(object.references, 2u);
  EXPECT_EQ(pointer.CopyTo(nullptr), E_POINTER);
  IUnknown* detached = pointer.detach();
  EXPECT_FALSE(pointer);
  EXPECT_EQ(object.references, 2u) << "detaching releases nothing";
  const ComPtr<IUnknown> back = ComPtr<IUnknown>::Adopt(detached);
  const ComPtr<IUnknown> other = ComPtr<IUnknown>::Adopt(out);
}

TEST(ComPtr, AsAsksTheObjectAndLeavesNothingWhenItSaysNo) {
  Counted object;
  {
    const ComPtr<IUnknown> pointer = ComPtr<IUnknown>::Adopt(&object);
    ComPtr<IUnknown> same;
    ASSERT_EQ(pointer.As(same), S_OK);
    EXPECT_EQ(same.get(), &object);
    EXPECT_EQ(object.references, 2u);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(pointer.As(dispatch), E_NOINTERFACE);
    EXPECT_FALSE(dispatch);
    EXPECT_FALSE(pointer.As<IDispatch>());
    EXPECT_EQ(object.references, 2u);
  }
  EXPECT_EQ(object.references, 0u);
  ComPtr<IUnknown> nothing;
  EXPECT_EQ(ComPtr<IUnknown>().As(nothing), E_POINTER);
}

TEST(ScopedVariant, RefillingOrGoingReleasesWhatItHeld) {
  Counted first;
  Counted second;
  {
    ScopedVariant value;
    V_VT(&value.get()) = VT_UNKNOWN;
    V_UNKNOWN(&value.get()) = &first;
    VARIANT* slot = value.put();
    EXPECT_EQ(first.references, 0u);
    EXPECT_EQ(V_VT(slot), VT_EMPTY);
    V_VT(slot) = VT_UNKNOWN;  // as a callee fills an out-parameter
    V_UNKNOWN(slot) = &second;
    EXPECT_EQ(second.references, 1u);
  }
  EXPECT_EQ(second.references, 0u);
}

TEST(ScopedVariant, DetachHandsTheValueOverUntouched) {
  Counted object;
  VARIANT taken;
  {
    ScopedVariant value;
    V_VT(&value.get()) = VT_UNKNOWN;
    V_UNKNOWN(&value.get()) = &object;
    taken = value.detach();
    EXPECT_EQ(value->vt, VT_EMPTY);
  }
  EXPECT_EQ(object.references, 1u);
  EXPECT_EQ(V_UNKNOWN(&taken), &object);
  EXPECT_EQ(VariantClear(&taken), S_OK);
  EXPECT_EQ(object.references, 0u);
}

TEST(Bstr, CopyKeepsEmbeddedNullsAndTheTextSurvivesAHandOver) {
  const std::u16string text(u"a\0b", 3);
  Bstr copy = Bstr::Copy(text);
  ASSERT_TRUE(copy);
  EXPECT_EQ(SysStringLen(copy.get()), 3u);
  EXPECT_EQ(copy.Text(), text);
  const Bstr taken(copy.detach());
  EXPECT_FALSE(copy);
  EXPECT_EQ(copy.Text(), u"");
  EXPECT_EQ(taken.Text(), text);
  // An empty text is a BSTR of its own, not a null one.
  EXPECT_TRUE(Bstr::Copy(u""));
}

TEST(Win32Handles, AHandleIsClosedWhenItsOwnerGoes) {
  HANDLE raw = nullptr;
  {
    const KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    raw = event.get();
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(raw, &flags));
  }
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(raw, &flags));
  EXPECT_FALSE(KernelHandle(INVALID_HANDLE_VALUE)) << "a failed open is no handle";
}

TEST(Win32Handles, ARegistryKeyIsClosedWhenItsOwnerGoes) {
  HKEY raw = nullptr;
  {
    RegistryKeyHandle key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    raw = key.get();
    DWORD subkeys = 0;
    EXPECT_EQ(RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
  }
  DWORD subkeys = 0;
  EXPECT_NE(RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
}

}  // namespace
}  // namespace dovel::platform::win32
