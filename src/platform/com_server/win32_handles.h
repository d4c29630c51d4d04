#pragma once

// Owners for the system handles the COM server and its tests open: the only
// code that closes them. Windows only.

#include <windows.h>

#include <utility>

namespace dovel::platform::win32 {

// Traits: `Type`, `Null()`, `Close(Type)`.
template <class Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type adopt) noexcept : handle_(adopt) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.detach()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.detach();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Type get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return Traits::IsOpen(handle_); }
  // For an out-parameter that receives a handle: closes the one held.
  Type* put() noexcept {
    reset();
    return &handle_;
  }
  [[nodiscard]] Type detach() noexcept { return std::exchange(handle_, Traits::Null()); }
  void reset() noexcept {
    const Type old = detach();
    if (Traits::IsOpen(old)) Traits::Close(old);
  }

 private:
  Type handle_ = Traits::Null();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Null() noexcept { return nullptr; }
  // Some calls fail with INVALID_HANDLE_VALUE instead of null.
  static bool IsOpen(Type handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  // A handle that will not close was not ours to begin with; nothing to do.
  static void Close(Type handle) noexcept { static_cast<void>(CloseHandle(handle)); }
};

struct RegistryKeyTraits {
  using Type = HKEY;
  static Type Null() noexcept { return nullptr; }
  static bool IsOpen(Type key) noexcept { return key != nullptr; }
  // As for a kernel handle: the key is gone either way.
  static void Close(Type key) noexcept { static_cast<void>(RegCloseKey(key)); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using RegistryKeyHandle = UniqueHandle<RegistryKeyTraits>;

}  // namespace dovel::platform::win32
