#include <objbase.h>

#include <cstring>

#include "platform/guid/guid_source.h"

namespace dovel::platform {
namespace {

class Win32GuidSource final : public GuidSource {
 public:
  std::error_code CreateGuid(Guid& guid) override {
    GUID made{};
    const HRESULT result = CoCreateGuid(&made);
    if (FAILED(result)) return HResultStatus(static_cast<std::int32_t>(result));
    static_assert(sizeof(GUID) == 16);
    guid.data1 = made.Data1;
    guid.data2 = made.Data2;
    guid.data3 = made.Data3;
    std::memcpy(guid.data4.data(), made.Data4, sizeof made.Data4);
    return {};
  }
};

}  // namespace

template <>
GuidSource& SystemDefault<GuidSource>() {
  static Win32GuidSource source;
  return source;
}

}  // namespace dovel::platform
