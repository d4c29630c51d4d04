// Timer accuracy and re-arming cost of the libuv message loop, each next to a
// baseline measured in the same run: a bare libuv timer and the kernel's own
// sleep for accuracy, bare uv_timer_stop/uv_timer_start for re-arming.
//
// Accuracy: the period of a 20 ms timer over 200 ticks; counters give the
// 50th and 99th percentile and the largest distance from 20 ms, in
// microseconds.
//
// Rate: repeating timers of 20, 100, 500 and 1,000 ms over a bounded number
// of periods, next to a thread sleeping to the same absolute schedule.
// mean_error_ms is the mean period less the interval (a drift shows here),
// mean_error_pct the same against the interval, p99_error_ms the 99th
// percentile of one period's distance from the interval.
//
// Idle: 5,000 timers of 500 ms (the standard poll rate of as many idle queue
// objects), armed a millisecond's worth at a time so that their due times
// spread over the period as those of objects made one after another do.
// After one period to settle, the loop thread over a 3 s window:
// cpu_ms_per_s is its CPU milliseconds per second of wall time, wakeups_per_s
// the times it blocked and was woken, ticks_per_s the ticks delivered. The
// baseline is the same timers on bare repeating libuv timers; HostDriven is
// the loop run by a host through its descriptor.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/resource.h>
#include <time.h>
#include <uv.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/loop/uv_message_loop.h"

namespace {

using dovel::platform::Timer;
using dovel::platform::UvMessageLoop;

constexpr std::int32_t kPeriodMs = 20;
constexpr std::size_t kTicks = 200;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Distances of each measured period from the nominal one, in microseconds.
void ReportPeriodErrors(benchmark::State& state, const std::vector<std::int64_t>& tick_ns) {
  std::vector<double> errors_us;
  for (std::size_t i = 1; i < tick_ns.size(); ++i) {
    const std::int64_t period = tick_ns[i] - tick_ns[i - 1];
    errors_us.push_back(static_cast<double>(std::llabs(period - kPeriodMs * 1'000'000LL)) / 1e3);
  }
  if (errors_us.empty()) {
    state.SkipWithError("no periods measured");
    return;
  }
  std::sort(errors_us.begin(), errors_us.end());
  const auto at = [&](std::size_t percent) {
    return errors_us[std::min(errors_us.size() - 1, errors_us.size() * percent / 100)];
  };
  state.counters["p50_error_us"] = at(50);
  state.counters["p99_error_us"] = at(99);
  state.counters["max_error_us"] = errors_us.back();
}

void BM_PeriodBaseline_Nanosleep(benchmark::State& state) {
  std::vector<std::int64_t> ticks;
  for (auto _ : state) {
    ticks.clear();
    ticks.push_back(NowNs());
    const timespec period{0, kPeriodMs * 1'000'000L};
    while (ticks.size() <= kTicks) {
      clock_nanosleep(CLOCK_MONOTONIC, 0, &period, nullptr);
      ticks.push_back(NowNs());
    }
  }
  ReportPeriodErrors(state, ticks);
}

struct RawTimer {
  uv_timer_t handle{};
  std::vector<std::int64_t> ticks;
};

void BM_PeriodBaseline_RawUvTimer(benchmark::State& state) {
  std::vector<std::int64_t> ticks;
  for (auto _ : state) {
    uv_loop_t loop;
    uv_loop_init(&loop);
    RawTimer timer;
    uv_timer_init(&loop, &timer.handle);
    timer.handle.data = &timer;
    timer.ticks.push_back(NowNs());
    uv_timer_start(
        &timer.handle,
        [](uv_timer_t* handle) {
          auto* self = static_cast<RawTimer*>(handle->data);
          self->ticks.push_back(NowNs());
          if (self->ticks.size() > kTicks) uv_timer_stop(handle);
        },
        kPeriodMs, kPeriodMs);
    uv_run(&loop, UV_RUN_DEFAULT);  // returns once the timer has stopped
    uv_close(reinterpret_cast<uv_handle_t*>(&timer.handle), nullptr);
    uv_run(&loop, UV_RUN_DEFAULT);
    uv_loop_close(&loop);
    ticks = std::move(timer.ticks);
  }
  ReportPeriodErrors(state, ticks);
}

// `rearm_in_tick`: switched off at the start of each tick and on again at its
// end, as the queue worker does.
void MessageLoopPeriod(benchmark::State& state, bool rearm_in_tick) {
  std::vector<std::int64_t> ticks;
  for (auto _ : state) {
    UvMessageLoop loop;
    ticks.clear();
    std::unique_ptr<Timer> timer;
    timer = loop.CreateTimer([&] {
      if (rearm_in_tick) timer->SetEnabled(false);
      ticks.push_back(NowNs());
      if (rearm_in_tick) timer->SetEnabled(true);
    });
    timer->SetInterval(kPeriodMs);
    ticks.push_back(NowNs());
    timer->SetEnabled(true);
    loop.RunUntil([&] { return ticks.size() > kTicks; });
  }
  ReportPeriodErrors(state, ticks);
}

void BM_Period_MessageLoopTimer(benchmark::State& state) { MessageLoopPeriod(state, false); }
void BM_Period_MessageLoopTimerRearmedInTick(benchmark::State& state) { MessageLoopPeriod(state, true); }

void BM_RearmBaseline_RawUvTimer(benchmark::State& state) {
  uv_loop_t loop;
  uv_loop_init(&loop);
  uv_timer_t handle;
  uv_timer_init(&loop, &handle);
  const uv_timer_cb on_fire = [](uv_timer_t*) {};
  uv_timer_start(&handle, on_fire, kPeriodMs, kPeriodMs);
  for (auto _ : state) {
    uv_timer_stop(&handle);
    uv_timer_start(&handle, on_fire, kPeriodMs, kPeriodMs);
  }
  uv_close(reinterpret_cast<uv_handle_t*>(&handle), nullptr);
  uv_run(&loop, UV_RUN_DEFAULT);
  uv_loop_close(&loop);
}

// With `host_driven`, a host polls the loop's descriptor; re-arming must cost
// it no more.
void BM_Rearm_MessageLoopTimer(benchmark::State& state, bool host_driven) {
  UvMessageLoop loop;
  if (host_driven) benchmark::DoNotOptimize(loop.PollDescriptor());
  auto timer = loop.CreateTimer([] {});
  timer->SetInterval(kPeriodMs);
  timer->SetEnabled(true);
  for (auto _ : state) {
    timer->SetEnabled(false);
    timer->SetEnabled(true);
  }
}

// Periods measured for each interval: enough for a p99 of the short ones,
// and a bounded run for the long ones.
std::size_t RatePeriods(std::int32_t interval_ms) { return interval_ms <= 100 ? 50 : 12; }

void ReportRate(benchmark::State& state, std::int32_t interval_ms, const std::vector<std::int64_t>& tick_ns) {
  if (tick_ns.size() < 2) {
    state.SkipWithError("no periods measured");
    return;
  }
  const double interval_ns = interval_ms * 1e6;
  std::vector<double> distances_ms;
  for (std::size_t i = 1; i < tick_ns.size(); ++i) {
    distances_ms.push_back(std::abs(static_cast<double>(tick_ns[i] - tick_ns[i - 1]) - interval_ns) / 1e6);
  }
  std::sort(distances_ms.begin(), distances_ms.end());
  const double periods = static_cast<double>(tick_ns.size() - 1);
  const double mean_error_ms = (static_cast<double>(tick_ns.back() - tick_ns.front()) / periods - interval_ns) / 1e6;
  state.counters["mean_error_ms"] = mean_error_ms;
  state.counters["mean_error_pct"] = 100.0 * mean_error_ms / interval_ms;
  state.counters["p99_error_ms"] = distances_ms[std::min(distances_ms.size() - 1, distances_ms.size() * 99 / 100)];
}

void BM_RateBaseline_AbsoluteSleep(benchmark::State& state) {
  const auto interval_ms = static_cast<std::int32_t>(state.range(0));
  std::vector<std::int64_t> ticks;
  for (auto _ : state) {
    ticks.clear();
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    while (ticks.size() <= RatePeriods(interval_ms)) {
      due.tv_nsec += interval_ms * 1'000'000L;
      due.tv_sec += due.tv_nsec / 1'000'000'000L;
      due.tv_nsec %= 1'000'000'000L;
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
      ticks.push_back(NowNs());
    }
  }
  ReportRate(state, interval_ms, ticks);
}

void BM_Rate_MessageLoopTimer(benchmark::State& state) {
  const auto interval_ms = static_cast<std::int32_t>(state.range(0));
  std::vector<std::int64_t> ticks;
  for (auto _ : state) {
    UvMessageLoop loop;
    ticks.clear();
    auto timer = loop.CreateTimer([&] { ticks.push_back(NowNs()); });
    timer->SetInterval(interval_ms);
    timer->SetEnabled(true);
    loop.RunUntil([&] { return ticks.size() > RatePeriods(interval_ms); });
  }
  ReportRate(state, interval_ms, ticks);
}

constexpr std::size_t kIdleTimers = 5000;
constexpr std::int32_t kIdlePeriodMs = 500;
constexpr std::int32_t kIdleWindowMs = 3000;
// Armed per millisecond, so that the timers spread over one period.
constexpr std::size_t kIdleArmedPerMs = kIdleTimers / kIdlePeriodMs;

std::int64_t ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Each time the thread blocked, in a poll here, and was woken.
std::int64_t ThreadWakeUps() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

// What one idle window cost: measured from Start to Finish.
class IdleWindow {
 public:
  void Start(std::uint64_t ticks) {
    wall_ns_ = NowNs();
    cpu_ns_ = ThreadCpuNs();
    wakeups_ = ThreadWakeUps();
    ticks_ = ticks;
  }
  void Finish(std::uint64_t ticks) {
    wall_ns_ = NowNs() - wall_ns_;
    cpu_ns_ = ThreadCpuNs() - cpu_ns_;
    wakeups_ = ThreadWakeUps() - wakeups_;
    ticks_ = ticks - ticks_;
  }
  void Report(benchmark::State& state) const {
    if (wall_ns_ <= 0) {
      state.SkipWithError("no window measured");
      return;
    }
    const double seconds = static_cast<double>(wall_ns_) / 1e9;
    state.counters["cpu_ms_per_s"] = static_cast<double>(cpu_ns_) / 1e6 / seconds;
    state.counters["wakeups_per_s"] = static_cast<double>(wakeups_) / seconds;
    state.counters["ticks_per_s"] = static_cast<double>(ticks_) / seconds;
  }

 private:
  std::int64_t wall_ns_ = 0;
  std::int64_t cpu_ns_ = 0;
  std::int64_t wakeups_ = 0;
  std::uint64_t ticks_ = 0;
};

void BM_IdleBaseline_RawUvTimers(benchmark::State& state) {
  IdleWindow window;
  for (auto _ : state) {
    uv_loop_t loop;
    uv_loop_init(&loop);
    std::uint64_t ticks = 0;
    std::vector<uv_timer_t> timers(kIdleTimers);
    for (std::size_t i = 0; i < timers.size(); ++i) {
      uv_timer_init(&loop, &timers[i]);
      timers[i].data = &ticks;
      uv_timer_start(
          &timers[i], [](uv_timer_t* handle) { ++*static_cast<std::uint64_t*>(handle->data); },
          kIdlePeriodMs + i / kIdleArmedPerMs, kIdlePeriodMs);
    }
    uv_timer_t stopper;
    uv_timer_init(&loop, &stopper);
    const uv_timer_cb stop = [](uv_timer_t* handle) { uv_stop(handle->loop); };
    // Settles for the time the loop's timers take to be armed, plus a period.
    uv_timer_start(&stopper, stop, 2 * kIdlePeriodMs, 0);
    uv_run(&loop, UV_RUN_DEFAULT);
    window.Start(ticks);
    uv_timer_start(&stopper, stop, kIdleWindowMs, 0);
    uv_run(&loop, UV_RUN_DEFAULT);
    window.Finish(ticks);
    for (uv_timer_t& timer : timers) uv_close(reinterpret_cast<uv_handle_t*>(&timer), nullptr);
    uv_close(reinterpret_cast<uv_handle_t*>(&stopper), nullptr);
    uv_run(&loop, UV_RUN_DEFAULT);
    uv_loop_close(&loop);
  }
  window.Report(state);
}

// Runs `loop` for `milliseconds`, by Run or as a host polling its
// descriptor would.
void RunIdleFor(UvMessageLoop& loop, std::int32_t milliseconds, bool host_driven) {
  bool over = false;
  auto stopper = loop.CreateTimer([&] {
    over = true;
    loop.Stop();
  });
  stopper->SetInterval(milliseconds);
  stopper->SetEnabled(true);
  if (!host_driven) {
    loop.Run();
    return;
  }
  pollfd entry{loop.PollDescriptor(), POLLIN, 0};
  while (!over) {
    poll(&entry, 1, loop.TimeUntilDue());
    loop.RunDue();
  }
}

void BM_Idle_MessageLoopTimers(benchmark::State& state, bool host_driven) {
  IdleWindow window;
  for (auto _ : state) {
    UvMessageLoop loop;
    std::uint64_t ticks = 0;
    std::vector<std::unique_ptr<Timer>> timers;
    for (std::size_t i = 0; i < kIdleTimers; ++i) {
      timers.push_back(loop.CreateTimer([&ticks] { ++ticks; }));
      timers.back()->SetInterval(kIdlePeriodMs);
    }
    std::size_t armed = 0;
    std::unique_ptr<Timer> arming;
    arming = loop.CreateTimer([&] {
      for (std::size_t i = 0; i < kIdleArmedPerMs && armed < timers.size(); ++i) {
        timers[armed++]->SetEnabled(true);
      }
      if (armed == timers.size()) loop.Stop();
    });
    arming->SetInterval(1);
    arming->SetEnabled(true);
    loop.Run();
    arming.reset();
    RunIdleFor(loop, kIdlePeriodMs, host_driven);
    window.Start(ticks);
    RunIdleFor(loop, kIdleWindowMs, host_driven);
    window.Finish(ticks);
  }
  window.Report(state);
}

BENCHMARK(BM_PeriodBaseline_Nanosleep)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeriodBaseline_RawUvTimer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Period_MessageLoopTimer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Period_MessageLoopTimerRearmedInTick)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RateBaseline_AbsoluteSleep)
    ->Arg(20)
    ->Arg(100)
    ->Arg(500)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rate_MessageLoopTimer)
    ->Arg(20)
    ->Arg(100)
    ->Arg(500)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RearmBaseline_RawUvTimer);
BENCHMARK_CAPTURE(BM_Rearm_MessageLoopTimer, RunByLoop, false);
BENCHMARK_CAPTURE(BM_Rearm_MessageLoopTimer, HostDriven, true);
BENCHMARK(BM_IdleBaseline_RawUvTimers)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Idle_MessageLoopTimers, RunByLoop, false)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Idle_MessageLoopTimers, HostDriven, true)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
