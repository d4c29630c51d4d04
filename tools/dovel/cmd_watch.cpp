// dovel watch: a live view of one queue object's three lists.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <deque>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "dovel/client.h"
#include "platform/process/terminal.h"
#include "tools/dovel/block_views.h"
#include "tools/dovel/printable.h"
#include "tools/dovel/queue_handle.h"
#include "tools/dovel/report.h"
#include "tools/dovel/subcommand.h"

namespace dovel::tools {
namespace {

using Clock = std::chrono::steady_clock;

// The rate counts the last minute, or the whole watch while it is shorter.
constexpr auto kRateWindow = std::chrono::seconds(60);
// Sleeps are cut into slices so that an interrupt ends the watch promptly.
constexpr auto kSlice = std::chrono::milliseconds(100);

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int /*signal*/) { g_interrupted = 1; }

struct WatchOptions {
  std::string work_queue, current, last_sent;
  unsigned interval_ms = 1000;
  unsigned count = 0;
  bool json = false;
};

// The first message of a list, if it has one that can be read.
struct Head {
  std::optional<MessageView> message;
  std::string unreadable;  // its identifier and why, when it could not be read
};

dovel_result ReadHead(dovel_queue* queue, dovel_queue_list which, Head& out) {
  char list_id[DOVEL_ID_BUFFER] = {};
  if (const dovel_result result = dovel_queue_list_id(queue, which, list_id); result != DOVEL_OK) return result;
  ListView list;
  if (const dovel_result result = ReadList(list_id, 1, list); result != DOVEL_OK) return result;
  Head head;
  if (!list.ids.empty()) {
    MessageView message;
    const dovel_result read = ReadMessage(list.ids.front(), message);
    if (read == DOVEL_OK) {
      head.message = std::move(message);
    } else {
      head.unreadable = list.ids.front() + " (" + dovel_result_text(read) + ")";
    }
  }
  out = std::move(head);
  return DOVEL_OK;
}

// Dispatches seen as changes of the last-sent message, at most one a refresh.
class DispatchRate {
 public:
  void Observe(Clock::time_point now, const Head& last_sent) {
    if (!start_) start_ = now;
    const std::string id = last_sent.message ? last_sent.message->id : "";
    if (!id.empty() && seen_ && id != last_id_) changes_.push_back(now);
    if (!id.empty()) last_id_ = id;
    seen_ = true;
    while (!changes_.empty() && now - changes_.front() > kRateWindow) changes_.pop_front();
    now_ = now;
  }

  // Messages a minute; none before any time has passed.
  std::optional<double> PerMinute() const {
    if (!start_) return std::nullopt;
    const auto span = std::min<Clock::duration>(now_ - *start_, kRateWindow);
    if (span <= Clock::duration::zero()) return std::nullopt;
    return static_cast<double>(changes_.size()) * 60.0 / std::chrono::duration<double>(span).count();
  }

 private:
  std::optional<Clock::time_point> start_;
  Clock::time_point now_;
  std::deque<Clock::time_point> changes_;
  std::string last_id_;
  bool seen_ = false;
};

std::string Shown(const Head& head) {
  if (head.message) return head.message->id + " \"" + Printable(head.message->name) + "\"";
  return head.unreadable.empty() ? "-" : Printable(head.unreadable);
}

nlohmann::json Json(const Head& head) {
  if (head.message) return MessageJson(*head.message);
  if (!head.unreadable.empty()) return {{"error", head.unreadable}};
  return nullptr;
}

int Watch(const WatchOptions& options) {
  QueueHandle queue;
  if (const dovel_result result = OpenQueue(options.work_queue, options.current, options.last_sent, queue);
      result != DOVEL_OK) {
    return Fail("watch: cannot open the queue", result);
  }
  const bool redraw = !options.json && platform::StandardOutputIsTerminal();
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  DispatchRate rate;
  const Clock::time_point start = Clock::now();
  for (unsigned refresh = 1; g_interrupted == 0; ++refresh) {
    std::size_t length = 0;
    Head current, last_sent;
    dovel_result result = dovel_queue_length(queue.get(), &length);
    if (result == DOVEL_OK) result = ReadHead(queue.get(), DOVEL_CURRENT, current);
    if (result == DOVEL_OK) result = ReadHead(queue.get(), DOVEL_LAST_SENT, last_sent);
    if (result != DOVEL_OK) {
      if (redraw) std::cout << std::endl;
      return Fail("watch", result);
    }
    const Clock::time_point now = Clock::now();
    rate.Observe(now, last_sent);
    const std::optional<double> per_minute = rate.PerMinute();
    if (options.json) {
      PrintJson({{"elapsed_ms", std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count()},
                 {"length", length},
                 {"current", Json(current)},
                 {"last_sent", Json(last_sent)},
                 {"rate_per_minute", per_minute ? nlohmann::json(*per_minute) : nlohmann::json()}},
                /*one_line=*/true);
    } else {
      std::ostringstream line;
      line << "queued " << length << " | current " << Shown(current) << " | last sent " << Shown(last_sent)
           << " | rate ";
      if (per_minute) {
        line << std::fixed << std::setprecision(1) << *per_minute << "/min";
      } else {
        line << '-';
      }
      // On a terminal the line is drawn over the last one: back to its start,
      // then clear it.
      std::cout << (redraw ? "\r\x1b[K" : "") << line.str() << (redraw ? "" : "\n") << std::flush;
    }
    if (options.count != 0 && refresh >= options.count) break;
    const Clock::time_point next = now + std::chrono::milliseconds(options.interval_ms);
    while (g_interrupted == 0 && Clock::now() < next) {
      std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, next - Clock::now()));
    }
  }
  if (redraw) std::cout << std::endl;
  return kExitOk;
}

}  // namespace

Subcommand AddWatch(CLI::App& dovel) {
  CLI::App* app = dovel.add_subcommand("watch", "Shows a queue object's lists live");
  app->footer(
      "Shows a queue object's lists live: the work queue's length, the current\n"
      "message, the last sent one, and the dispatch rate (changes of the last-sent\n"
      "message seen in the last minute, at most one a refresh). On a terminal the\n"
      "line is redrawn in place; piped, every refresh is a line of its own. Ctrl-C\n"
      "ends it.");
  auto options = std::make_shared<WatchOptions>();
  app->add_option("WORKQUEUE", options->work_queue, "The work queue's identifier")->required()->type_name("");
  app->add_option("CURRENT", options->current, "The current list's identifier")->required()->type_name("");
  app->add_option("LASTSENT", options->last_sent, "The last-sent list's identifier")->required()->type_name("");
  app->add_option("--interval", options->interval_ms, "Milliseconds between refreshes (default 1000)")
      ->check(CLI::Range(10U, 3'600'000U));
  app->add_option("--count", options->count, "Stop after this many refreshes (default 0: until interrupted)");
  app->add_flag("--json", options->json, "One JSON object a line, one line a refresh");
  return {app, [options] { return Watch(*options); }};
}

}  // namespace dovel::tools
