// The worker tick and many idle queue objects, against baselines measured
// in the same run:
//   BM_IdleTick            all lists empty, supervision off: reads two list
//                          heads and re-arms the worker timer
//   BM_TimerRearm          baseline: the disable/enable pair alone
//   BM_DispatchTick        one message handed over: opens and closes its
//                          block; the handler puts it back at the head
//   BM_BlockOpenClose      baseline: open + map + first read + unmap + close
//                          of a block that another handle holds
//   BM_WorkerPeriod        the worker's period from one SendData to the next
//                          at 500 ms on the real loop, a message waiting at
//                          every tick; measured against 500 ms plus a
//                          dispatching tick timed on its own (tick_ms)
//   BM_IdleQueueObjects/N  N idle queue objects on the real loop at the
//                          default 500 ms poll rate for a few seconds of wall
//                          time: CPU per second of wall time (% of one core)
//                          and resident memory per object
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "com/cls_msg_queue.h"
#include "config/mod_globals.h"
#include "engine/frm_msg_queue.h"
#include "platform/guid/guid_source.h"
#include "platform/loop/message_loop.h"
#include "platform/process/descriptor_limit.h"
#include "platform/process/process_info.h"
#include "platform/shared_memory/shared_memory.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/identifier.h"

namespace {

using namespace dovel;

class NullParent final : public engine::QueueEvents {
 public:
  std::function<void()> on_send_data;
  void RaiseSendData() override {
    if (on_send_data) on_send_data();
  }
  void RaiseTimeout() override {}
  void RaiseInactiveSession() override {}
  void RaiseHeartbeat() override {}
  void RaiseDiagRefresh() override {}
};

store::Identifier FreshIdentifier() {
  platform::Guid guid;
  if (const std::error_code failed = platform::CurrentGuidSource().CreateGuid(guid)) {
    throw std::system_error(failed, "no identifier for the benchmark");
  }
  return store::Identifier::From(guid);
}

std::shared_ptr<engine::frmMsgQueue> StartEngine(const std::shared_ptr<NullParent>& parent) {
  auto engine = engine::frmMsgQueue::New(
      {platform::CurrentMessageLoop(), platform::CurrentClock(), platform::CurrentGuidSource(), 500});
  engine->Parent = parent;
  engine->Form_Load();
  return engine;
}

void BM_IdleTick(benchmark::State& state) {
  auto parent = std::make_shared<NullParent>();
  auto engine = StartEngine(parent);
  for (auto _ : state) engine->tmrWorker_Timer();
  engine->Form_Unload();
}
BENCHMARK(BM_IdleTick);

void BM_TimerRearm(benchmark::State& state) {
  auto parent = std::make_shared<NullParent>();
  auto engine = StartEngine(parent);
  const auto& timer = engine->tmrWorker();
  for (auto _ : state) {
    timer->SetEnabled(false);
    timer->SetEnabled(true);
  }
  engine->Form_Unload();
}
BENCHMARK(BM_TimerRearm);

// One message that goes back as the only one of the work queue each time
// it is handed over: four identifier writes on blocks that are already open.
class RequeuedMessage {
 public:
  explicit RequeuedMessage(const engine::frmMsgQueue& engine) : guid_(FreshIdentifier()) {
    status_ = store::Identifier::Parse(engine.WorkQueueGUID, work_guid_);
    if (!status_) status_ = store::Identifier::Parse(engine.CurrentMsgGUID, current_guid_);
    if (!status_) status_ = work_.Load(work_guid_);
    if (!status_) status_ = current_.Load(current_guid_);
    if (!status_) status_ = message_.Create(guid_);
    if (status_) return;
    message_.Name(u"payload");
    (*this)();
  }
  // Why the message could not be set up: the benchmark cannot run then.
  std::error_code status() const { return status_; }
  void operator()() {
    current_.FirstMsgGUID(current_guid_);
    message_.HeadGUID(work_guid_);
    message_.NextMsgGUID(work_guid_);
    work_.FirstMsgGUID(guid_);
  }

 private:
  const store::Identifier guid_;
  store::Identifier work_guid_, current_guid_;
  store::clsMessages work_, current_;
  store::clsMessage message_;
  std::error_code status_;
};

void BM_DispatchTick(benchmark::State& state) {
  auto parent = std::make_shared<NullParent>();
  auto engine = StartEngine(parent);
  RequeuedMessage requeue(*engine);
  if (requeue.status()) {
    state.SkipWithError("the message to hand over could not be set up");
    engine->Form_Unload();
    return;
  }
  std::int64_t dispatched = 0;
  parent->on_send_data = [&] {
    ++dispatched;
    requeue();
  };
  for (auto _ : state) engine->tmrWorker_Timer();
  state.counters["dispatched_per_tick"] =
      benchmark::Counter(static_cast<double>(dispatched) / static_cast<double>(state.iterations()));
  engine->Form_Unload();
}
BENCHMARK(BM_DispatchTick);

void BM_BlockOpenClose(benchmark::State& state) {
  store::clsMessages head;
  const store::Identifier guid = FreshIdentifier();
  if (head.Create(guid)) {
    state.SkipWithError("the block could not be created");
    return;
  }
  const std::string name = guid.BlockName();
  platform::SharedMemory& memory = platform::CurrentSharedMemory();
  for (auto _ : state) {
    const platform::OpenResult opened = memory.Open(name);
    const platform::MapResult mapped = memory.Map(opened.handle);
    // Touch the view as any use of the block does (the first touch of a new
    // mapping costs a page fault).
    benchmark::DoNotOptimize(*static_cast<volatile std::byte*>(mapped.view));
    memory.Unmap(mapped.view);
    memory.Close(opened.handle);
  }
}
BENCHMARK(BM_BlockOpenClose);

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void BM_WorkerPeriod(benchmark::State& state) {
  constexpr std::size_t kPeriods = 12;
  constexpr std::int64_t kTimedTicks = 20;
  auto parent = std::make_shared<NullParent>();
  auto engine = StartEngine(parent);
  platform::MessageLoop& loop = platform::CurrentMessageLoop();
  // The message handed over is at once the only one waiting again.
  RequeuedMessage requeue(*engine);
  if (requeue.status()) {
    state.SkipWithError("the message to hand over could not be set up");
    engine->Form_Unload();
    return;
  }
  std::vector<std::int64_t> sent_ns;
  parent->on_send_data = [&] {
    sent_ns.push_back(NowNs());
    requeue();
  };
  for (auto _ : state) {
    // The tick's own time, which the worker adds to every period.
    const std::int64_t timed_start = NowNs();
    for (std::int64_t i = 0; i < kTimedTicks; ++i) engine->tmrWorker_Timer();
    const double tick_ms = static_cast<double>(NowNs() - timed_start) / kTimedTicks / 1e6;
    sent_ns.clear();
    loop.RunUntil([&] { return sent_ns.size() > kPeriods; });

    const double expected_ms = g_iStandardPollRate + tick_ms;
    std::vector<double> distances_ms;
    for (std::size_t i = 1; i < sent_ns.size(); ++i) {
      distances_ms.push_back(std::abs(static_cast<double>(sent_ns[i] - sent_ns[i - 1]) / 1e6 - expected_ms));
    }
    std::sort(distances_ms.begin(), distances_ms.end());
    const double period_ms = static_cast<double>(sent_ns.back() - sent_ns.front()) / static_cast<double>(kPeriods) /
                             1e6;
    state.counters["tick_ms"] = tick_ms;
    state.counters["period_ms"] = period_ms;
    state.counters["mean_error_ms"] = period_ms - expected_ms;
    state.counters["mean_error_pct"] = 100.0 * (period_ms - expected_ms) / g_iStandardPollRate;
    state.counters["p99_error_ms"] = distances_ms[std::min(distances_ms.size() - 1, distances_ms.size() * 99 / 100)];
  }
  engine->Form_Unload();
}
BENCHMARK(BM_WorkerPeriod)->Iterations(1)->Unit(benchmark::kSecond);

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

void BM_IdleQueueObjects(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  platform::RaiseDescriptorLimit();
  platform::MessageLoop& loop = platform::CurrentMessageLoop();
  for (auto _ : state) {
    const long rss_before = ResidentBytes();
    const std::size_t heap_before = mallinfo2().uordblks;
    std::vector<std::shared_ptr<com::clsMsgQueue>> queues;
    queues.reserve(count);
    std::size_t started = 0;
    for (std::size_t i = 0; i < count; ++i) {
      queues.push_back(com::clsMsgQueue::New());
      std::shared_ptr<platform::Timer> worker;
      const bool got = !queues.back()->get_WorkerTimer(worker);
      started += got && worker != nullptr && worker->Enabled() ? 1 : 0;
    }
    const long rss_after = ResidentBytes();
    const std::size_t heap_after = mallinfo2().uordblks;

    const auto wall_start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    bool elapsed = false;
    const auto stop = loop.CreateTimer([&] { elapsed = true; });
    stop->SetInterval(3000);
    stop->SetEnabled(true);
    loop.RunUntil([&] { return elapsed; });
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    state.SetIterationTime(wall);

    state.counters["started"] = static_cast<double>(started);
    state.counters["cpu_pct_of_core"] = 100.0 * cpu / wall;
    state.counters["rss_per_object_B"] = static_cast<double>(rss_after - rss_before) / static_cast<double>(count);
    state.counters["heap_per_object_B"] = static_cast<double>(heap_after - heap_before) / static_cast<double>(count);
    // On this thread UnloadQueue cannot be refused; only the objects' end matters.
    for (const auto& queue : queues) static_cast<void>(queue->UnloadQueue());
  }
}
BENCHMARK(BM_IdleQueueObjects)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(5000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
