#pragma once

#include <cstdint>

#include "platform/automation/variant.h"

// The values the whole system shares, one set per thread (the apartment):
// the worker's poll rate in milliseconds, the warning level passed with
// every error report, and the thread's error-logging object (or none).
extern thread_local std::int16_t g_iStandardPollRate;
extern thread_local std::int16_t g_iWarningLevel;
extern thread_local dovel::platform::automation::ObjectRef g_oErrorObject;

// Creates the thread's error-logging object, then loads the poll rate and
// the warning level from the settings: a setting never made gets its
// default (500, 5) written back; text that is no 16-bit number, or a store
// that cannot be read just now, is reported and the default serves this
// process while the store is left as it is. Each step reports its own
// failure and the next still runs; never fails the caller.
void InitApplicationVariables();
