#pragma once

#include <cstdint>

#include "platform/automation/variant.h"

// The values the whole system shares, one set per thread (the apartment):
// the worker's poll rate in milliseconds, the warning level passed with
// every error report, and the thread's error-logging object (or none).
extern thread_local std::int16_t g_iStandardPollRate;
extern thread_local std::int16_t g_iWarningLevel;
extern thread_local dovel::platform::automation::ObjectRef g_oErrorObject;

// Loads the poll rate and warning level from the settings (writing the
// defaults, 500 and 5, where none were set) and creates the thread's
// error-logging object. Reports its own failures; never fails the caller.
void InitApplicationVariables();
