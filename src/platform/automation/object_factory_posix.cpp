#include "platform/automation/object_factory.h"

namespace dovel::platform {

// Without a system object registry, the classes are those the process
// registered itself.
template <>
automation::ObjectFactory& SystemDefault<automation::ObjectFactory>() {
  return automation::ProcessClassTable();
}

}  // namespace dovel::platform
