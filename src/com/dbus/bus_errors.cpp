#include "com/dbus/bus_errors.h"

#include "platform/core/error_codes.h"

namespace dovel::com::dbus {

sdbus::Error FailedError(std::string_view what, std::error_code status) {
  return sdbus::Error(kFailedError, std::string(what) + ": " + status.message() + " (number " +
                                        std::to_string(ErrorNumber(status)) + ")");
}

void ThrowIfFailed(std::string_view what, std::error_code status) {
  if (status) throw FailedError(what, status);
}

}  // namespace dovel::com::dbus
