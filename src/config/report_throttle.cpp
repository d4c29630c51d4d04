#include "config/report_throttle.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "platform/automation/text.h"

namespace dovel::config {
namespace {

std::u16string RepeatsText(std::string_view lead, std::int64_t repeats) {
  return platform::automation::FromUtf8(std::string(lead) + std::to_string(repeats) +
                                        (repeats == 1 ? " time" : " times") + " since the last report");
}

}  // namespace

std::int64_t MillisecondsOf(const platform::LocalDateTime& moment) {
  using namespace std::chrono;
  const sys_days day = year_month_day{year{moment.year}, month{static_cast<unsigned>(moment.month)},
                                      std::chrono::day{static_cast<unsigned>(moment.day)}};
  return (day.time_since_epoch().count() * 86'400'000LL) + moment.hour * 3'600'000LL + moment.minute * 60'000LL +
         moment.second * 1'000LL + moment.millisecond;
}

ReportThrottle::Verdict ReportThrottle::Failed(const ReportPlace& place, std::int32_t number, std::int64_t now_ms) {
  const auto found = std::find_if(failures_.begin(), failures_.end(), [&](const Failure& f) {
    return f.site == &place.site && f.number == number && f.subject == place.subject;
  });
  if (found == failures_.end()) {
    if (failures_.size() >= kMaxRemembered) {
      failures_.erase(std::min_element(failures_.begin(), failures_.end(), [](const Failure& a, const Failure& b) {
        return a.last_seen_ms < b.last_seen_ms;
      }));
    }
    failures_.push_back({&place.site, std::u16string(place.subject), number, now_ms, now_ms, 0, false});
    return {true, {}};
  }
  Failure& failure = *found;
  failure.last_seen_ms = now_ms;
  failure.repeated = true;
  ++failure.since_report;
  // A clock set back counts as a minute gone, so a repeat is never held back
  // for the length of the jump.
  const std::int64_t elapsed = now_ms - failure.last_report_ms;
  if (elapsed >= 0 && elapsed < kWindowMs) return {false, {}};
  Verdict verdict{true, RepeatsText("repeated ", failure.since_report)};
  failure.last_report_ms = now_ms;
  failure.since_report = 0;
  return verdict;
}

std::vector<ReportThrottle::Cleared> ReportThrottle::Succeeded(const ReportPlace& place) {
  std::vector<Cleared> cleared;
  std::erase_if(failures_, [&](const Failure& f) {
    if (f.site != &place.site || f.subject != place.subject) return false;
    if (f.repeated) cleared.push_back({f.site, f.number, RepeatsText("cleared; came ", f.since_report)});
    return true;
  });
  return cleared;
}

void ReportThrottle::WriteTo(const std::shared_ptr<void>& log) {
  const bool same = !log_.expired() && !log_.owner_before(log) && !log.owner_before(log_);
  if (same) return;
  failures_.clear();
  log_ = log;
}

ReportThrottle& ThreadReportThrottle() {
  thread_local ReportThrottle throttle;
  return throttle;
}

}  // namespace dovel::config
