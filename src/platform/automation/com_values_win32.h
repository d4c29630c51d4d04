#pragma once

// Owners for the automation values that carry memory of their own: BSTR text
// and VARIANTs. The only code that frees them. Windows only.

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dovel::platform::win32 {

class Bstr {
 public:
  Bstr() noexcept = default;
  // Takes over text the caller was given (an out-parameter, an EXCEPINFO).
  explicit Bstr(BSTR adopt) noexcept : text_(adopt) {}
  Bstr(Bstr&& other) noexcept : text_(other.detach()) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      reset();
      text_ = other.detach();
    }
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { reset(); }

  // A copy of `text`; empty (no BSTR at all) when out of memory.
  [[nodiscard]] static Bstr Copy(std::u16string_view text) {
    static_assert(sizeof(OLECHAR) == sizeof(char16_t), "automation text is UTF-16 on Windows");
    return Bstr(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())));
  }

  BSTR get() const noexcept { return text_; }
  explicit operator bool() const noexcept { return text_ != nullptr; }
  // For an out-parameter that receives text: frees the text held.
  BSTR* put() noexcept {
    reset();
    return &text_;
  }
  [[nodiscard]] BSTR detach() noexcept { return std::exchange(text_, nullptr); }
  void reset() noexcept { SysFreeString(std::exchange(text_, nullptr)); }

  // The text, embedded nulls included; a null BSTR is the empty text.
  std::u16string Text() const {
    if (text_ == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text_), SysStringLen(text_));
  }

 private:
  BSTR text_ = nullptr;
};

// A VARIANT that is cleared when it goes, whatever it came to hold.
class ScopedVariant {
 public:
  ScopedVariant() noexcept { VariantInit(&value_); }
  ~ScopedVariant() { Clear(); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  VARIANT& get() noexcept { return value_; }
  const VARIANT& get() const noexcept { return value_; }
  const VARIANT* operator->() const noexcept { return &value_; }
  // For an out-parameter that receives a value: clears the one held.
  VARIANT* put() noexcept {
    Clear();
    return &value_;
  }

  // Hands the value over to the caller, leaving this empty.
  [[nodiscard]] VARIANT detach() noexcept {
    VARIANT value = value_;
    VariantInit(&value_);
    return value;
  }

  void Clear() noexcept {
    // Fails only for a type it cannot free (none we create); it is VT_EMPTY after.
    static_cast<void>(VariantClear(&value_));
    VariantInit(&value_);
  }

 private:
  VARIANT value_;
};

// VARIANTs side by side, as DISPPARAMS wants its arguments, each cleared
// when the list goes.
class VariantList {
 public:
  explicit VariantList(std::size_t count) : items_(count) {
    for (VARIANT& item : items_) VariantInit(&item);
  }
  ~VariantList() {
    // As ScopedVariant::Clear.
    for (VARIANT& item : items_) static_cast<void>(VariantClear(&item));
  }
  VariantList(const VariantList&) = delete;
  VariantList& operator=(const VariantList&) = delete;

  VARIANT& operator[](std::size_t index) { return items_[index]; }
  VARIANT* data() { return items_.data(); }
  UINT size() const { return static_cast<UINT>(items_.size()); }

 private:
  std::vector<VARIANT> items_;
};

}  // namespace dovel::platform::win32
