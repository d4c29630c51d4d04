#pragma once

// Generic IUnknown for the server's COM classes: one reference count, and a
// QueryInterface that answers for IUnknown and for every interface the class
// lists. Every live object keeps the server process alive.

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <utility>

#include "platform/automation/com_ptr_win32.h"
#include "platform/com_server/server_lifetime.h"

namespace dovel::platform::com_server {

// Derived : public ComObject<Derived, Primary, Others...>. IUnknown is taken
// from Primary; further IIDs that Primary answers for (IDispatch of a dual
// interface, say) are given by Derived::AnswersAsPrimary.
template <class Derived, class Primary, class... Others>
class ComObject : public Primary, public Others... {
 public:
  ComObject() {
    if constexpr (CountsTowardLifetime()) ServerLifetime::ObjectCreated();
  }
  virtual ~ComObject() {
    if constexpr (CountsTowardLifetime()) ServerLifetime::ObjectDestroyed();
  }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // Makes a new object, owned by the result, or an empty result (out of
  // memory, or a constructor that threw: nothing may cross into COM).
  template <class... Args>
  [[nodiscard]] static win32::ComPtr<Derived> Create(Args&&... args) {
    try {
      return win32::ComPtr<Derived>::Adopt(new Derived(std::forward<Args>(args)...));
    } catch (...) {
      return nullptr;
    }
  }

  [[nodiscard]] STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == __uuidof(Primary) || static_cast<Derived*>(this)->AnswersAsPrimary(iid)) {
      *out = static_cast<Primary*>(this);
    } else if (!((iid == __uuidof(Others) && (*out = static_cast<Others*>(this), true)) || ...)) {
      return E_NOINTERFACE;
    }
    AddRef();  // the reference handed out; the count is ours to keep
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // Default: no further interface answers with the primary one.
  bool AnswersAsPrimary(REFIID) const { return false; }

 private:
  // A class factory sets `static constexpr bool kKeepsServerAlive = false`:
  // registered with COM for the server's whole life, it must not keep the
  // server from ending.
  static constexpr bool CountsTowardLifetime() {
    if constexpr (requires { Derived::kKeepsServerAlive; }) {
      return Derived::kKeepsServerAlive;
    } else {
      return true;
    }
  }

  std::atomic<ULONG> references_{1};
};

}  // namespace dovel::platform::com_server
