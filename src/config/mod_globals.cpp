#include "config/mod_globals.h"

thread_local std::int16_t g_iStandardPollRate = 0;
thread_local std::int16_t g_iWarningLevel = 0;
thread_local dovel::platform::automation::ObjectRef g_oErrorObject;
