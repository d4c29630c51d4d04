#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "platform/guid/guid_source.h"

namespace dovel::platform {
namespace {

// Version 4 (random) identifiers from the kernel's random source.
class PosixGuidSource final : public GuidSource {
 public:
  std::error_code CreateGuid(Guid& guid) override {
    unsigned char bytes[16];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
      const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        return SystemError::kInvalidFunction;
      }
      filled += static_cast<std::size_t>(got);
    }
    Guid made;
    std::memcpy(&made.data1, bytes, 4);
    std::memcpy(&made.data2, bytes + 4, 2);
    std::memcpy(&made.data3, bytes + 6, 2);
    std::memcpy(made.data4.data(), bytes + 8, 8);
    // The version is the top digit of the third group as it is written out,
    // so it goes into the field's value, whatever the byte order.
    made.data3 = static_cast<std::uint16_t>((made.data3 & 0x0FFF) | 0x4000);
    made.data4[0] = static_cast<std::uint8_t>((made.data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
    guid = made;
    return {};
  }
};

}  // namespace

template <>
GuidSource& SystemDefault<GuidSource>() {
  static PosixGuidSource source;
  return source;
}

}  // namespace dovel::platform
