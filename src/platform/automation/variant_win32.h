#pragma once

// Automation values as the Windows VARIANT, for code that implements COM
// objects as well as calls them. The rules are those of com_dispatch_win32.h.

#include <windows.h>
#include <oaidl.h>

#include <system_error>

#include "platform/automation/variant.h"

namespace dovel::platform::automation {

// Fills `to` (which must be empty or freshly initialised) from `from`. Fails
// with RuntimeError::kTypeMismatch for a value COM cannot carry, kOutOfMemory.
[[nodiscard]] std::error_code ToComVariant(const Variant& from, VARIANT& to);

// Reads `from` into `to`, following references; a runtime error on failure.
[[nodiscard]] std::error_code FromComVariant(const VARIANT& from, Variant& to);

}  // namespace dovel::platform::automation
