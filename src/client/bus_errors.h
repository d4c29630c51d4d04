#pragma once

// The boundary of the bus client: every entry point runs its body through
// BusGuarded, which turns the bus's errors into results and keeps the
// error's text for dovel_server_last_error.

#include <sdbus-c++/Error.h>

#include <new>

#include "client/c_boundary.h"
#include "dovel/client.h"

namespace dovel::client::bus {

// The result for an error the bus or the server answered with.
dovel_result ResultOf(const sdbus::Error& error) noexcept;

// Keeps "name: message" as the thread's last bus error.
void RememberError(const sdbus::Error& error) noexcept;
void ForgetError() noexcept;

// Runs `body` (returning a dovel_result) so that nothing it throws crosses
// the boundary.
template <class Body>
dovel_result BusGuarded(Body&& body) noexcept {
  ForgetError();
  try {
    return Finish(body());
  } catch (const sdbus::Error& error) {
    RememberError(error);
    return Finish(ResultOf(error));
  } catch (const std::bad_alloc&) {
    return Finish(DOVEL_NO_RESOURCES);
  } catch (...) {
    return Finish(DOVEL_SYSTEM_ERROR);
  }
}

}  // namespace dovel::client::bus
