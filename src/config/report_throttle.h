#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/report_sites.h"
#include "platform/clock/clock.h"

namespace dovel::config {

// Where a failure happened: the reporting site, and what it was working on
// when a site serves many things (a block's identifier, a setting's name);
// empty where that does not matter.
struct ReportPlace {
  ReportPlace(const ReportSite& reporting_site, std::u16string_view what = {}) : site(reporting_site), subject(what) {}
  const ReportSite& site;
  std::u16string_view subject;
};

// Keeps a failure that persists from flooding the log (a broken list read
// on every tick of a 2 ms poll rate would write thousands of lines a
// minute until the disk is full):
//   - the first report of a failure (site, subject and number) goes out as
//     it always has;
//   - repeats within a minute of the last report are only counted; the
//     first repeat after that minute is reported with the count in the
//     report's additional text;
//   - when the place then succeeds, one last report says the failure
//     cleared and how often it came since the last report. A failure that
//     never repeated has nothing to clear and gets no second report.
// One per thread, like the error-logging object; nothing is locked.
class ReportThrottle {
 public:
  static constexpr std::int64_t kWindowMs = 60'000;
  // Failures remembered at once; the stalest are forgotten beyond that, so a
  // stream of distinct failures cannot grow it without bound.
  static constexpr std::size_t kMaxRemembered = 256;

  struct Verdict {
    bool report = false;
    std::u16string additional_text;  // "" for a first report
  };
  struct Cleared {
    const ReportSite* site;
    std::int32_t number;
    std::u16string additional_text;
  };

  Verdict Failed(const ReportPlace& place, std::int32_t number, std::int64_t now_ms);
  // The place finished without an error: its remembered failures that had
  // repeated, to be reported once more as cleared.
  std::vector<Cleared> Succeeded(const ReportPlace& place);
  bool empty() const { return failures_.empty(); }
  // The log the remembered failures went to; another one forgets them all.
  void WriteTo(const std::shared_ptr<void>& log);

 private:
  struct Failure {
    const ReportSite* site;
    std::u16string subject;
    std::int32_t number;
    std::int64_t last_report_ms;
    std::int64_t last_seen_ms;
    std::int64_t since_report;  // occurrences after the last report
    bool repeated;
  };
  std::vector<Failure> failures_;
  std::weak_ptr<void> log_;
};

// Milliseconds on a steady count from a calendar moment (days since
// 1970-01-01 as if the moment were UTC); only differences are used.
std::int64_t MillisecondsOf(const platform::LocalDateTime& moment);

// The calling thread's throttle.
ReportThrottle& ThreadReportThrottle();

}  // namespace dovel::config
