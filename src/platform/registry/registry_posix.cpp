#include "platform/registry/sqlite_registry.h"

namespace dovel::platform {

template <>
Registry& SystemDefault<Registry>() {
  static SqliteRegistry registry;
  return registry;
}

}  // namespace dovel::platform
