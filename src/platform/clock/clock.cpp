#include "platform/clock/clock.h"

namespace dovel::platform {

float SecondsSinceMidnightOf(const LocalDateTime& t) {
  const double seconds = t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
  return static_cast<float>(seconds);
}

}  // namespace dovel::platform
