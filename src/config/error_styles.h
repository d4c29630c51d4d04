#pragma once

// How a procedure treats an error, stated in its first line:
//
//   Reporting(site, body, exit)  trap, report under the site's literals, then
//                                run the exit section; the caller sees success.
//   ReportingResult(site, body)  the same for a procedure that returns a
//                                result code: a trapped error becomes the result.
//   ReportingStatus(site, body)  the same with the result a status, so its
//                                category survives to the caller.
//   Ignoring(step, step, ...)    every step runs whatever the ones before did.
//   PassingOn(body)              no handler: the error goes to the caller.
//   QuietRecovery(fallback, body) trap and return the fallback, no report.
//
// Inside the system an error is a std::error_code; Raise throws it, and it
// becomes a bare number only in the report and in a result code.
// Nothing here lets an exception leave a reporting, ignoring or quiet
// procedure, so none crosses the system's boundary.

#include <cstdint>
#include <system_error>
#include <utility>

#include "config/error_report.h"
#include "config/report_sites.h"
#include "platform/core/error_codes.h"

namespace dovel::config {

// A raised error: its status is all it carries.
struct RaisedError {
  std::error_code status;
};

[[noreturn]] void Raise(std::error_code status);

// The status of the exception being handled: a raised error's own, out of
// memory for exhausted memory, an invalid procedure call for anything else.
// Call only inside a catch.
std::error_code TrappedError() noexcept;

// A place is a site, or a site and what it works on ({site, identifier}),
// so that a failure that persists at one place is reported without
// flooding the log while the same site goes on working elsewhere.
template <class Body, class Exit>
void Reporting(const ReportPlace& place, Body&& body, Exit&& exit_section) noexcept {
  try {
    std::forward<Body>(body)();
    ReportSuccess(place);
  } catch (...) {
    ReportFailure(place, TrappedError());
  }
  try {
    std::forward<Exit>(exit_section)();
  } catch (...) {
    // Errors in an exit section are ignored.
  }
}

template <class Body>
void Reporting(const ReportPlace& place, Body&& body) noexcept {
  Reporting(place, std::forward<Body>(body), [] {});
}

// `body` returns the procedure's result code: the number callers see.
template <class Body>
std::int32_t ReportingResult(const ReportPlace& place, Body&& body) noexcept {
  std::int32_t result = 0;
  try {
    result = std::forward<Body>(body)();
    ReportSuccess(place);
  } catch (...) {
    const std::error_code status = TrappedError();
    if (place.site.sets_result_code) result = ErrorNumber(status);
    ReportFailure(place, status);
  }
  return result;
}

// `body` returns the procedure's status. ErrorNumber of what this returns
// is what ReportingResult gives for a site that sets the result code.
template <class Body>
[[nodiscard]] std::error_code ReportingStatus(const ReportPlace& place, Body&& body) noexcept {
  std::error_code status;
  try {
    status = std::forward<Body>(body)();
    ReportSuccess(place);
  } catch (...) {
    status = TrappedError();
    ReportFailure(place, status);
  }
  return status;
}

template <class... Steps>
void Ignoring(Steps&&... steps) noexcept {
  auto run = [](auto&& step) {
    try {
      step();
    } catch (...) {
    }
  };
  (run(std::forward<Steps>(steps)), ...);
}

template <class Body>
decltype(auto) PassingOn(Body&& body) {
  return std::forward<Body>(body)();
}

template <class T, class Body>
T QuietRecovery(T fallback, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return fallback;
  }
}

}  // namespace dovel::config
