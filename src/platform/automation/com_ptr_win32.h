#pragma once

// One owner for every COM reference the system holds: the only code that
// calls AddRef and Release on someone else's object. Windows only.

#include <windows.h>
#include <unknwn.h>

#include <concepts>
#include <cstddef>
#include <utility>

namespace dovel::platform::win32 {

// Move-only, so that a second reference is always taken on purpose (Share).
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}  // NOLINT: null converts implicitly, as for any pointer

  // Takes over the one reference the caller was given (a new object, an
  // out-parameter filled by someone else).
  [[nodiscard]] static ComPtr Adopt(T* object) noexcept {
    ComPtr owner;
    owner.object_ = object;
    return owner;
  }

  // A reference of its own to an object someone else owns.
  [[nodiscard]] static ComPtr Share(T* object) noexcept {
    if (object != nullptr) object->AddRef();
    return Adopt(object);
  }

  ComPtr(ComPtr&& other) noexcept : object_(other.detach()) {}
  template <class U>
    requires std::convertible_to<U*, T*> ComPtr(ComPtr<U>&& other)
  noexcept : object_(other.detach()) {}  // NOLINT: upcasts are implicit

  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = other.detach();
    }
    return *this;
  }

  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  ~ComPtr() { reset(); }

  T* get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Another owner of the same object.
  [[nodiscard]] ComPtr Share() const noexcept { return Share(object_); }

  // For an out-parameter that receives a reference: drops the one held.
  T** put() noexcept {
    reset();
    return &object_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  // Gives up ownership without releasing, e.g. into a caller's out-parameter.
  [[nodiscard]] T* detach() noexcept { return std::exchange(object_, nullptr); }

  // Hands the caller of a COM method a reference of its own.
  [[nodiscard]] HRESULT CopyTo(T** out) const noexcept {
    if (out == nullptr) return E_POINTER;
    *out = Share().detach();
    return S_OK;
  }

  void reset() noexcept {
    // Release's count is for diagnostics only.
    if (T* old = std::exchange(object_, nullptr)) static_cast<void>(old->Release());
  }

  // The object's interface U, by QueryInterface; E_NOINTERFACE leaves `out`
  // empty.
  template <class U>
  [[nodiscard]] HRESULT As(ComPtr<U>& out) const noexcept {
    if (object_ == nullptr) {
      out.reset();
      return E_POINTER;
    }
    return object_->QueryInterface(__uuidof(U), out.put_void());
  }
  // The same, for callers that only need to know whether it is there.
  template <class U>
  [[nodiscard]] ComPtr<U> As() const noexcept {
    ComPtr<U> out;
    static_cast<void>(As(out));  // an empty result says it all
    return out;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.object_ == b.object_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.object_ == nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace dovel::platform::win32
