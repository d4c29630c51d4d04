#include <cstddef>

#include "platform/guid/guid_source.h"

namespace dovel::platform {
namespace {

constexpr int kFormattedLength = 38;

char16_t HexDigit(unsigned value) { return static_cast<char16_t>(value < 10 ? u'0' + value : u'A' + (value - 10)); }

void PutHex(char16_t*& out, std::uint64_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    *out++ = HexDigit(static_cast<unsigned>((value >> shift) & 0xF));
  }
}

}  // namespace

int StringFromGuid2(const Guid& guid, char16_t* buffer, int capacity) {
  if (buffer == nullptr || capacity < kFormattedLength + 1) return 0;
  char16_t* out = buffer;
  *out++ = u'{';
  PutHex(out, guid.data1, 8);
  *out++ = u'-';
  PutHex(out, guid.data2, 4);
  *out++ = u'-';
  PutHex(out, guid.data3, 4);
  *out++ = u'-';
  PutHex(out, guid.data4[0], 2);
  PutHex(out, guid.data4[1], 2);
  *out++ = u'-';
  for (std::size_t i = 2; i < guid.data4.size(); ++i) PutHex(out, guid.data4[i], 2);
  *out++ = u'}';
  *out = u'\0';
  return kFormattedLength + 1;
}

}  // namespace dovel::platform
