#include "config/error_report.h"

#include <array>
#include <exception>
#include <new>

#include "config/error_styles.h"
#include "config/mod_error_list.h"
#include "config/mod_globals.h"
#include "platform/automation/date.h"
#include "platform/automation/dispatch.h"
#include "platform/clock/clock.h"

namespace dovel::config {

namespace automation = platform::automation;

void Raise(std::int32_t number) { throw RaisedError{number}; }

std::int32_t TrappedErrorNumber() noexcept {
  try {
    throw;
  } catch (const RaisedError& raised) {
    return raised.number;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  } catch (...) {
    return kErrInvalidProcedureCall;
  }
}

void StandardErrorReport(const ReportSite& site, std::int32_t number) noexcept {
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

    Ignoring([&] { error_object->Call(u"Add", add_arguments, nullptr); },
             [&] { error_object->PutProperty(u"AddlText", std::u16string()); },
             [&] { error_object->Call(u"LogError", {}, nullptr); },
             [&] {
               if (site.calls_clear) error_object->Call(u"Clear", {}, nullptr);
             });
  } catch (...) {
    // Not even a report may take the server down.
  }
}

}  // namespace dovel::config
