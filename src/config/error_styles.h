#pragma once

// How a procedure treats an error, stated in its first line:
//
//   Reporting(site, body, exit)  trap, report under the site's literals, then
//                                run the exit section; the caller sees success.
//   ReportingResult(site, body)  the same for a procedure that returns a
//                                result code: a trapped error becomes the result.
//   Ignoring(step, step, ...)    every step runs whatever the ones before did.
//   PassingOn(body)              no handler: the error goes to the caller.
//   QuietRecovery(fallback, body) trap and return the fallback, no report.
//
// Inside the system an error is a number and nothing else; Raise throws it.
// Nothing here lets an exception leave a reporting, ignoring or quiet
// procedure, so none crosses the system's boundary.

#include <cstdint>
#include <utility>

#include "config/error_report.h"
#include "config/report_sites.h"

namespace dovel::config {

// A raised error: its number is all it carries.
struct RaisedError {
  std::int32_t number;
};

[[noreturn]] void Raise(std::int32_t number);

// The number of the exception being handled: a raised error's own number,
// 7 for exhausted memory, 5 for anything else. Call only inside a catch.
std::int32_t TrappedErrorNumber() noexcept;

// A place is a site, or a site and what it works on ({site, identifier}),
// so that a failure that persists at one place is reported without
// flooding the log while the same site goes on working elsewhere.
template <class Body, class Exit>
void Reporting(const ReportPlace& place, Body&& body, Exit&& exit_section) noexcept {
  try {
    std::forward<Body>(body)();
    ReportSuccess(place);
  } catch (...) {
    ReportFailure(place, TrappedErrorNumber());
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

// `body` returns the procedure's result code.
template <class Body>
std::int32_t ReportingResult(const ReportPlace& place, Body&& body) noexcept {
  std::int32_t result = 0;
  try {
    result = std::forward<Body>(body)();
    ReportSuccess(place);
  } catch (...) {
    const std::int32_t number = TrappedErrorNumber();
    if (place.site.sets_result_code) result = number;
    ReportFailure(place, number);
  }
  return result;
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
