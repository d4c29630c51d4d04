#include "config/error_report.h"

#include <array>
#include <exception>
#include <new>

#include "config/error_styles.h"
#include "config/mod_globals.h"
#include "platform/automation/date.h"
#include "platform/automation/dispatch.h"
#include "platform/clock/clock.h"
#include "platform/core/error_codes.h"

namespace dovel::config {

namespace automation = platform::automation;

void Raise(std::error_code status) { throw RaisedError{status}; }

std::error_code TrappedError() noexcept {
  try {
    throw;
  } catch (const RaisedError& raised) {
    return raised.status;
  } catch (const std::bad_alloc&) {
    return RuntimeError::kOutOfMemory;
  } catch (...) {
    return RuntimeError::kInvalidProcedureCall;
  }
}

void StandardErrorReport(const ReportSite& site, std::int32_t number) noexcept {
  StandardErrorReport(site, number, {});
}

void ReportFailure(const ReportPlace& place, std::error_code status) noexcept {
  const std::int32_t number = ErrorNumber(status);
  try {
    const std::int64_t now = MillisecondsOf(platform::CurrentClock().Now());
    ReportThrottle& throttle = ThreadReportThrottle();
    // What was held back belongs to the log it was held back from: a new
    // error-logging object starts with a clean slate.
    if (g_oErrorObject == nullptr) return;
    throttle.WriteTo(g_oErrorObject);
    const ReportThrottle::Verdict verdict = throttle.Failed(place, number, now);
    if (verdict.report) StandardErrorReport(place.site, number, verdict.additional_text);
  } catch (...) {
    // Without memory for the bookkeeping the report still goes out.
    StandardErrorReport(place.site, number);
  }
}

void ReportSuccess(const ReportPlace& place) noexcept {
  ReportThrottle& throttle = ThreadReportThrottle();
  if (throttle.empty() || g_oErrorObject == nullptr) return;
  try {
    throttle.WriteTo(g_oErrorObject);
    for (const auto& cleared : throttle.Succeeded(place)) {
      StandardErrorReport(*cleared.site, cleared.number, cleared.additional_text);
    }
  } catch (...) {
    // A lost "cleared" line is no reason to disturb the caller.
  }
}

void StandardErrorReport(const ReportSite& site, std::int32_t number, std::u16string_view additional_text) noexcept {
  try {
    if (g_oErrorObject == nullptr) return;
    // Our own reference: a call may drop the thread's (a handler that ends
    // the last queue object), and the object must outlive the report.
    const automation::ObjectRef error_object = g_oErrorObject;
    const platform::LocalDateTime now = platform::CurrentClock().Now();

    std::array<automation::Variant, 14> add_arguments;
    add_arguments.fill(automation::Missing{});
    add_arguments[0] = number;
    add_arguments[4] = automation::DatePart(now);
    add_arguments[5] = automation::TimePart(now);
    add_arguments[7] = std::u16string(site.module);
    add_arguments[8] = std::u16string(site.procedure);
    if (site.level == ReportLevel::kTenByValue) {
      add_arguments[13] = std::int16_t{10};
    } else {
      add_arguments[13] = automation::Int16Ref{&g_iWarningLevel};
    }

    // Ignoring style: a failed call's status is dropped on purpose and the
    // next call still runs, so that a Clear still resets the object.
    Ignoring([&] { static_cast<void>(error_object->Call(u"Add", add_arguments, nullptr)); },
             [&] { static_cast<void>(error_object->PutProperty(u"AddlText", std::u16string(additional_text))); },
             [&] { static_cast<void>(error_object->Call(u"LogError", {}, nullptr)); },
             [&] {
               if (site.calls_clear) static_cast<void>(error_object->Call(u"Clear", {}, nullptr));
             });
  } catch (...) {
    // Not even a report may take the server down.
  }
}

}  // namespace dovel::config
