#include <windows.h>

#include "platform/clock/clock.h"

namespace dovel::platform {
namespace {

class Win32Clock final : public Clock {
 public:
  float SecondsSinceMidnight() override { return SecondsSinceMidnightOf(Now()); }

  LocalDateTime Now() override {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return LocalDateTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                         local.wMinute, local.wSecond, local.wMilliseconds};
  }
};

}  // namespace

template <>
Clock& SystemDefault<Clock>() {
  static Win32Clock clock;
  return clock;
}

}  // namespace dovel::platform
