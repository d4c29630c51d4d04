#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>

#include "platform/automation/com_ptr_win32.h"

namespace dovel::platform::com_server {

// The full path of the module (executable or DLL) this code is linked into.
std::wstring ModulePath();

// The type information of `guid` from the type library embedded in this
// module as resource 1, loaded once and kept for the module's life. No
// registration is needed for this: the server describes itself even before
// /RegServer has run.
[[nodiscard]] HRESULT ModuleTypeInfo(REFGUID guid, ITypeInfo** out);

// The embedded type library itself.
[[nodiscard]] HRESULT ModuleTypeLibrary(win32::ComPtr<ITypeLib>& out);

// A block a type library or its type information lends out (GetLibAttr,
// GetTypeAttr, GetFuncDesc), given back when this goes. It keeps its lender.
template <class Lender, class Block>
class LentBlock {
 public:
  LentBlock() noexcept = default;
  LentBlock(Lender* lender, Block* block) noexcept : lender_(win32::ComPtr<Lender>::Share(lender)), block_(block) {}
  LentBlock(LentBlock&& other) noexcept
      : lender_(std::move(other.lender_)), block_(std::exchange(other.block_, nullptr)) {}
  LentBlock& operator=(LentBlock&& other) noexcept {
    if (this != &other) {
      reset();
      lender_ = std::move(other.lender_);
      block_ = std::exchange(other.block_, nullptr);
    }
    return *this;
  }
  LentBlock(const LentBlock&) = delete;
  LentBlock& operator=(const LentBlock&) = delete;
  ~LentBlock() { reset(); }

  const Block* get() const noexcept { return block_; }
  const Block* operator->() const noexcept { return block_; }
  explicit operator bool() const noexcept { return block_ != nullptr; }

  void reset() noexcept {
    if (Block* block = std::exchange(block_, nullptr)) GiveBack(lender_.get(), block);
    lender_.reset();
  }

 private:
  static void GiveBack(ITypeLib* lender, TLIBATTR* block) { lender->ReleaseTLibAttr(block); }
  static void GiveBack(ITypeInfo* lender, TYPEATTR* block) { lender->ReleaseTypeAttr(block); }
  static void GiveBack(ITypeInfo* lender, FUNCDESC* block) { lender->ReleaseFuncDesc(block); }

  win32::ComPtr<Lender> lender_;
  Block* block_ = nullptr;
};

using LibraryAttributes = LentBlock<ITypeLib, TLIBATTR>;
using TypeAttributes = LentBlock<ITypeInfo, TYPEATTR>;
using FunctionDescription = LentBlock<ITypeInfo, FUNCDESC>;

[[nodiscard]] inline HRESULT GetLibraryAttributes(ITypeLib* library, LibraryAttributes& out) {
  TLIBATTR* block = nullptr;
  const HRESULT hr = library->GetLibAttr(&block);
  out = SUCCEEDED(hr) ? LibraryAttributes(library, block) : LibraryAttributes();
  return hr;
}

[[nodiscard]] inline HRESULT GetTypeAttributes(ITypeInfo* info, TypeAttributes& out) {
  TYPEATTR* block = nullptr;
  const HRESULT hr = info->GetTypeAttr(&block);
  out = SUCCEEDED(hr) ? TypeAttributes(info, block) : TypeAttributes();
  return hr;
}

[[nodiscard]] inline HRESULT GetFunctionDescription(ITypeInfo* info, UINT index, FunctionDescription& out) {
  FUNCDESC* block = nullptr;
  const HRESULT hr = info->GetFuncDesc(index, &block);
  out = SUCCEEDED(hr) ? FunctionDescription(info, block) : FunctionDescription();
  return hr;
}

}  // namespace dovel::platform::com_server
