#include "platform/shared_memory/block_name_posix.h"

#include "platform/core/error_codes.h"

namespace dovel::platform::posix_block {

std::error_code CheckName(std::string_view name) {
  constexpr std::string_view kRefused("/\\\0", 3);
  if (name.empty() || name.find_first_of(kRefused) != std::string_view::npos) {
    return SystemError::kInvalidName;
  }
  if (name.size() > kMaxNameLength) return SystemError::kFilenameExcedRange;
  return {};
}

std::string UserPrefix(unsigned uid) { return "dovel." + std::to_string(uid) + "."; }

std::string ObjectName(std::string_view name, unsigned uid) {
  std::string object = "/" + UserPrefix(uid);
  object.append(name);
  return object;
}

}  // namespace dovel::platform::posix_block
