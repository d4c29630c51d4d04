#include "platform/process/process_info.h"

namespace dovel::platform {

std::string ProgramNameFromPath(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

FileVersionNumbers BuiltFileVersion() {
  // Windows keeps each field in 16 bits; so does the version resource.
  static_assert(DOVEL_VERSION_MAJOR <= 0xFFFF && DOVEL_VERSION_MINOR <= 0xFFFF && DOVEL_VERSION_PATCH <= 0xFFFF &&
                    DOVEL_VERSION_TWEAK <= 0xFFFF,
                "a version field does not fit a file version");
  return FileVersionNumbers{DOVEL_VERSION_MAJOR, DOVEL_VERSION_MINOR, DOVEL_VERSION_PATCH, DOVEL_VERSION_TWEAK};
}

std::string FormatAppVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t /*build*/,
                             std::uint16_t revision) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
}

}  // namespace dovel::platform
