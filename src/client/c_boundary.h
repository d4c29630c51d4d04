#pragma once

// What every C entry point of the library shares: the translation of a
// status into a dovel_result, the thread's last system code, identifiers and
// text across the boundary, and the one lock that serialises the library.

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

#include "dovel/client.h"
#include "store/identifier.h"

namespace dovel::client {

// Records `status` as the thread's last system code and gives its result.
dovel_result Finish(const std::error_code& status) noexcept;
// A result that has no system code behind it (a refused argument).
dovel_result Finish(dovel_result result) noexcept;

std::recursive_mutex& LibraryMutex();

// Runs `body` (returning a status) under the library's lock and turns
// anything it throws into a result, so no exception crosses the boundary.
template <class Body>
dovel_result Guarded(Body&& body) noexcept {
  try {
    const std::lock_guard<std::recursive_mutex> lock(LibraryMutex());
    return Finish(body());
  } catch (const std::bad_alloc&) {
    return Finish(DOVEL_NO_RESOURCES);
  } catch (...) {
    return Finish(DOVEL_SYSTEM_ERROR);
  }
}

// Text from the caller: UTF-8 checked strictly (DOVEL_BAD_TEXT otherwise);
// NULL reads as empty.
[[nodiscard]] bool FromCallerUtf8(const char* text, std::u16string& out);

// An identifier from the caller: 38 characters of the registry form.
[[nodiscard]] std::error_code ParseCallerId(const char* text, store::Identifier& out);

// Text for the caller as UTF-8 that a C string holds whole: a U+0000 unit
// another process left inside reads as U+FFFD.
std::string ToCallerUtf8(std::u16string_view text);
// An identifier field for the caller: "" when it was never written (all
// zeros), else its text as ToCallerUtf8 gives it.
std::string IdForCaller(std::u16string_view field);

// Writes `id` and its NUL into `out` (DOVEL_ID_BUFFER bytes) unless `out` is
// NULL.
void CopyId(const store::Identifier& id, char* out) noexcept;

}  // namespace dovel::client
