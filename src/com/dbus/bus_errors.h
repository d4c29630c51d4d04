#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <system_error>

#include <sdbus-c++/Error.h>

#include "com/dbus/bus_names.h"

namespace dovel::com::dbus {

// org.dovel.Dovel.Error.Failed for a status of the queue object: what was
// refused, the reason and the number, e.g.
// "Post: the value is too long for its field (number 380)".
[[nodiscard]] sdbus::Error FailedError(std::string_view what, std::error_code status);

// Throws FailedError when `status` is a failure.
void ThrowIfFailed(std::string_view what, std::error_code status);

// Runs a handler's body. sdbus-c++ ends the process for anything but an
// sdbus::Error leaving a handler, so every other exception becomes
// org.dovel.Dovel.Error.Failed.
template <class Body>
auto Guarded(std::string_view what, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const sdbus::Error&) {
    throw;
  } catch (const std::system_error& e) {
    throw FailedError(what, e.code());
  } catch (const std::exception& e) {
    throw sdbus::Error(kFailedError, std::string(what) + ": " + e.what());
  } catch (...) {
    throw sdbus::Error(kFailedError, std::string(what) + ": unexpected failure");
  }
}

}  // namespace dovel::com::dbus
