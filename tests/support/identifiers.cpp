#include "support/identifiers.h"

#include <stdexcept>

#include "platform/guid/guid_source.h"

namespace dovel::testing {

std::u16string NewIdentifier() {
  platform::Guid guid;
  if (platform::SystemDefault<platform::GuidSource>().CreateGuid(guid)) {
    throw std::runtime_error("no GUID from the system");
  }
  char16_t buffer[39];
  platform::StringFromGuid2(guid, buffer, 39);
  return std::u16string(buffer, 38);
}

}  // namespace dovel::testing
