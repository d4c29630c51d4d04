#pragma once

#include <cstdint>

#include "config/report_sites.h"

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

}  // namespace dovel::config
