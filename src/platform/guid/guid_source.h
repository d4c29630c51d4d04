#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/core/current.h"
#include "platform/core/error_codes.h"

namespace dovel::platform {

// A 128-bit identifier laid out like the Windows GUID structure.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

// CoCreateGuid: a new random identifier.
// Threads: may be called from any thread.
class GuidSource {
 public:
  virtual ~GuidSource() = default;

  // Fills `guid` and returns success, or returns the failure (the system's
  // HRESULT on Windows, a system error elsewhere) and leaves `guid` unchanged.
  [[nodiscard]] virtual std::error_code CreateGuid(Guid& guid) = 0;
};

template <>
GuidSource& SystemDefault<GuidSource>();

inline GuidSource& CurrentGuidSource() { return Current<GuidSource>::Get(); }

// StringFromGUID2: the registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// 38 characters, upper-case hexadecimal. Writes at most `capacity` UTF-16
// code units including a terminating NUL and returns how many it wrote (39),
// or 0 when the buffer is too small (nothing written).
int StringFromGuid2(const Guid& guid, char16_t* buffer, int capacity);

}  // namespace dovel::platform
