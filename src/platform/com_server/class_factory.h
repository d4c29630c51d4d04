#pragma once

#include <windows.h>
#include <unknwn.h>

#include <functional>

#include "platform/com_server/com_object.h"

namespace dovel::platform::com_server {

// A class factory for any class: `create` makes one new object (or nothing
// when out of memory). Aggregation is not
// offered. A factory does not keep the server alive by itself; a client's
// LockServer(TRUE) does.
class ClassFactory final : public ComObject<ClassFactory, IClassFactory> {
 public:
  using Creator = std::function<win32::ComPtr<IUnknown>()>;
  static constexpr bool kKeepsServerAlive = false;

  explicit ClassFactory(Creator create) : create_(std::move(create)) {}

  [[nodiscard]] STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  [[nodiscard]] STDMETHODIMP LockServer(BOOL lock) override;

 private:
  Creator create_;
};

}  // namespace dovel::platform::com_server
