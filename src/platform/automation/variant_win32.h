#pragma once

// Automation values as the Windows VARIANT, for code that implements COM
// objects as well as calls them. The rules are those of com_dispatch_win32.h.

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "platform/automation/variant.h"

namespace dovel::platform::automation {

// Fills `to` (which must be empty or freshly initialised) from `from`;
// 0 or the error number (13 for a value COM cannot carry, 7 out of memory).
std::int32_t ToComVariant(const Variant& from, VARIANT& to);

// Reads `from` into `to`, following references; 0 or the error number.
std::int32_t FromComVariant(const VARIANT& from, Variant& to);

}  // namespace dovel::platform::automation
