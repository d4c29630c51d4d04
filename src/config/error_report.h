#pragma once

#include <cstdint>

#include <string_view>
#include <system_error>

#include "config/report_sites.h"
#include "config/report_throttle.h"

namespace dovel::config {

// The standard error report: Add with fourteen positional arguments (the
// number, the date, the time of day, the site's module and procedure, the
// level; the rest passed as missing), then AddlText = "", LogError and, at
// most sites, Clear, all through the thread's error-logging object.
//
// Skipped when the thread has no error-logging object. A failure of the
// object's own calls is contained: the failed call is dropped, the remaining
// calls are still made (so a Clear still resets the object), and nothing
// reaches the caller.
void StandardErrorReport(const ReportSite& site, std::int32_t number) noexcept;
// The same with `additional_text` as AddlText (how often a failure repeated).
void StandardErrorReport(const ReportSite& site, std::int32_t number, std::u16string_view additional_text) noexcept;

// A trapped error at `place`: reported under its number, unless the thread's throttle holds
// it back as a repeat (see ReportThrottle).
void ReportFailure(const ReportPlace& place, std::error_code status) noexcept;
// `place` finished without an error: failures there that had repeated are
// reported once more, as cleared. Costs one check while nothing failed.
void ReportSuccess(const ReportPlace& place) noexcept;

}  // namespace dovel::config
