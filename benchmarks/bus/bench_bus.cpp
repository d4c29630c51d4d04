// Queue objects of dovel-server over the session bus, each case against its
// baseline measured in the same run: the same member of a clsMsgQueue hosted
// in this process, on this thread's message loop (the Local* cases, run
// first). Latencies are timed one call at a time; median_us and p99_us come
// from the recorded samples, vs_local is the bus figure over the local one.
//   BM_LocalInactivityComplete / BM_BusInactivityComplete
//                        a method call: InactivityComplete, reply received
//   BM_LocalSetInactivityTimeout / BM_BusSetInactivityTimeout
//                        a property set: InactivityTimeout, until the reply
//                        is in and this client's PropertiesChanged handler
//                        has run (the server emits it before it replies)
//   BM_LocalHeartbeat / BM_BusHeartbeat
//                        a signal's delivery. The server's emit time cannot
//                        be seen from here, so the case times what it
//                        controls: it enables the HeartbeatTimer at 5 ms and
//                        waits for the first Heartbeat in its handler. The
//                        timer started somewhere between sending the Set and
//                        receiving its reply, so timer lateness + emit-to-
//                        handler lies between late_lo_us (from the reply)
//                        and late_hi_us (from the send); late_mid_us takes
//                        the middle. The local case enables the timer of its
//                        own object and times its event sink: the timer's
//                        own lateness on the same loop, with no bus;
//                        over_local_mid_us, the bus's median over it, is the
//                        estimate of emit to handler.
//   BM_LocalIdleObjects/N / BM_BusIdleObjects/N
//                        N idle queue objects: CPU of the process that holds
//                        them (the server, found by the bus's
//                        GetConnectionUnixProcessID, or this process) over
//                        a few seconds of wall time, in % of one core, from
//                        /proc/<pid>/task/*/schedstat (cpu_pct_stat: the
//                        coarser /proc/<pid>/stat); resident memory per
//                        object from VmRSS before and after creating them
//   BM_LocalCreateRelease / BM_BusCreateRelease
//                        creates and releases per second of wall time
//                        (items_per_second): New + UnloadQueue locally,
//                        Factory.Create + Factory.Release on the bus
// One object stays in the server for the whole run so that it does not exit
// between cases; every object is released before the benchmark ends.
//
// Run it on the build tree's private bus, never on the machine's own:
//   dbus-run-session --config-file=<build>/dbus/session.conf -- <build>/benchmarks/bus/bench_bus
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "com/cls_msg_queue.h"
#include "org_dovel_Dovel_proxy.h"
#include "platform/loop/message_loop.h"
#include "platform/process/descriptor_limit.h"

namespace {

using namespace dovel;
using Clock = std::chrono::steady_clock;

constexpr const char* kBusName = "org.dovel.Dovel";
constexpr const char* kFactoryPath = "/org/dovel/Dovel";
constexpr std::int32_t kHeartbeatMs = 5;
constexpr auto kWaitLimit = std::chrono::seconds(2);

double MicrosSince(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::micro>(end - start).count();
}

// ---- Samples and their report -------------------------------------------

struct Percentiles {
  double median = 0;
  double p99 = 0;
};

Percentiles Summarize(std::vector<double> samples) {
  if (samples.empty()) return {};
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}

// The local figures, by case family, for the bus case that follows.
std::map<std::string, Percentiles>& Baselines() {
  static std::map<std::string, Percentiles> baselines;
  return baselines;
}

void ReportLocal(benchmark::State& state, const std::string& family, const std::string& prefix,
                 const std::vector<double>& samples) {
  const Percentiles summary = Summarize(samples);
  state.counters[prefix + "median_us"] = summary.median;
  state.counters[prefix + "p99_us"] = summary.p99;
  Baselines()[family + prefix] = summary;
}

void ReportBus(benchmark::State& state, const std::string& family, const std::string& prefix,
               const std::vector<double>& samples, const std::string& baseline_prefix) {
  const Percentiles summary = Summarize(samples);
  state.counters[prefix + "median_us"] = summary.median;
  state.counters[prefix + "p99_us"] = summary.p99;
  const auto base = Baselines().find(family + baseline_prefix);
  if (base != Baselines().end() && base->second.median > 0) {
    state.counters[prefix + "vs_local"] = summary.median / base->second.median;
  }
}

// ---- The process that holds the objects ---------------------------------

// Nanoseconds on a CPU, all threads of `pid`.
std::int64_t CpuNs(pid_t pid) {
  std::int64_t total = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream schedstat(task.path() / "schedstat");
    std::int64_t on_cpu = 0;
    if (schedstat >> on_cpu) total += on_cpu;
  }
  return total;
}

// utime + stime of /proc/<pid>/stat (fields 14 and 15), in seconds.
double StatCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // The command name (field 2) may hold spaces: count from field 3 after it.
  const std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return 0;
  std::istringstream fields(line.substr(name_end + 1));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  double utime = 0, stime = 0;
  if (!(fields >> utime >> stime)) return 0;
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// VmRSS of /proc/<pid>/status, in bytes.
long ResidentBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kilobytes = 0;
      status >> kilobytes;
      return kilobytes * 1024;
    }
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

// ---- The bus side -------------------------------------------------------

class Factory final : public sdbus::ProxyInterfaces<org::dovel::Dovel::Factory_proxy> {
 public:
  explicit Factory(sdbus::IConnection& connection) : ProxyInterfaces(connection, kBusName, kFactoryPath) {
    registerProxy();
  }
  ~Factory() { unregisterProxy(); }
};

class Queue final : public sdbus::ProxyInterfaces<org::dovel::Dovel::MsgQueue_proxy, sdbus::Properties_proxy> {
 public:
  Queue(sdbus::IConnection& connection, const std::string& path) : ProxyInterfaces(connection, kBusName, path) {
    registerProxy();
  }
  ~Queue() { unregisterProxy(); }

  std::function<void()> on_heartbeat;
  std::function<void(const std::map<std::string, sdbus::Variant>&)> on_changed;

 private:
  void onSendData() override {}
  void onTimeout() override {}
  void onInactiveSession() override {}
  void onHeartbeat() override {
    if (on_heartbeat) on_heartbeat();
  }
  void onDiagRefresh() override {}
  void onPropertiesChanged(const std::string& interface_name, const std::map<std::string, sdbus::Variant>& changed,
                           const std::vector<std::string>&) override {
    if (interface_name == org::dovel::Dovel::MsgQueue_proxy::INTERFACE_NAME && on_changed) on_changed(changed);
  }
};

class QueueTimer final : public sdbus::ProxyInterfaces<org::dovel::Dovel::QueueTimer_proxy> {
 public:
  QueueTimer(sdbus::IConnection& connection, const std::string& path) : ProxyInterfaces(connection, kBusName, path) {
    registerProxy();
  }
  ~QueueTimer() { unregisterProxy(); }
};

// The run's one connection to the private bus, its factory and the object
// that keeps the server up.
class Session {
 public:
  static Session& Get() { return *instance_; }

  static void Open(const std::string& address) {
    instance_.reset(new Session(address));
    instance_->Start();
  }
  static void Close() { instance_.reset(); }

  sdbus::IConnection& connection() { return *connection_; }
  Factory& factory() { return *factory_; }
  pid_t server_pid() const { return server_pid_; }

  // Dispatches what arrives until `done` or the limit; false on the limit.
  bool RunUntil(const std::function<bool()>& done, Clock::duration limit = kWaitLimit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      while (connection_->processPendingRequest()) {
        if (done()) return true;
      }
      if (done()) return true;
      const auto now = Clock::now();
      if (now >= deadline) return false;
      const auto poll_data = connection_->getEventLoopPollData();
      const int bus_wait = poll_data.getPollTimeout();
      if (bus_wait == 0) continue;
      int wait = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
      if (bus_wait > 0) wait = std::min(wait, bus_wait);
      pollfd descriptor{poll_data.fd, poll_data.events, 0};
      ::poll(&descriptor, 1, wait);
    }
  }

  // Runs what has already arrived.
  void Drain() {
    while (connection_->processPendingRequest()) {
    }
  }

  ~Session() {
    if (factory_ != nullptr && !anchor_.empty()) {
      try {
        factory_->Release(sdbus::ObjectPath(anchor_));
      } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "bench_bus: releasing the anchor object: %s\n", error.what());
      }
    }
    factory_.reset();
  }

 private:
  explicit Session(const std::string& address)
      : connection_(sdbus::createSessionBusConnectionWithAddress(address)),
        factory_(std::make_unique<Factory>(*connection_)) {}

  void Start() {
    anchor_ = factory_->Create();
    auto bus = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    std::uint32_t pid = 0;
    bus->callMethod("GetConnectionUnixProcessID")
        .onInterface("org.freedesktop.DBus")
        .withArguments(std::string(kBusName))
        .storeResultsTo(pid);
    server_pid_ = static_cast<pid_t>(pid);
    std::error_code failed;
    const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", failed);
    if (failed || exe != std::filesystem::path(DOVEL_BUILT_SERVER)) {
      throw std::runtime_error("the bus started " + (failed ? failed.message() : exe.string()) +
                               ", not this build's server " DOVEL_BUILT_SERVER);
    }
  }

  static inline std::unique_ptr<Session> instance_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<Factory> factory_;
  std::string anchor_;
  pid_t server_pid_ = 0;
};

// A queue object of the server that this case releases when it ends.
class BusObject {
 public:
  BusObject() : path_(Session::Get().factory().Create()) {}
  ~BusObject() {
    try {
      Session::Get().factory().Release(path_);
    } catch (const sdbus::Error& error) {
      std::fprintf(stderr, "bench_bus: releasing %s: %s\n", path_.c_str(), error.what());
    }
  }
  BusObject(const BusObject&) = delete;
  BusObject& operator=(const BusObject&) = delete;
  const sdbus::ObjectPath& path() const { return path_; }

 private:
  sdbus::ObjectPath path_;
};

// A queue object of this process, unloaded when the case ends.
class LocalObject {
 public:
  LocalObject() : queue_(com::clsMsgQueue::New()) {}
  ~LocalObject() { static_cast<void>(queue_->UnloadQueue()); }
  LocalObject(const LocalObject&) = delete;
  LocalObject& operator=(const LocalObject&) = delete;
  com::clsMsgQueue& operator*() const { return *queue_; }
  com::clsMsgQueue* operator->() const { return queue_.get(); }

 private:
  std::shared_ptr<com::clsMsgQueue> queue_;
};

void Refuse(benchmark::State& state, const char* what) {
  state.SkipWithError(what);
  for (auto _ : state) {
  }
}

// ---- Method call --------------------------------------------------------

void BM_LocalInactivityComplete(benchmark::State& state) {
  LocalObject queue;
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto start = Clock::now();
    const std::error_code result = queue->InactivityComplete();
    samples.push_back(MicrosSince(start, Clock::now()));
    benchmark::DoNotOptimize(result);
  }
  ReportLocal(state, "InactivityComplete", "", samples);
}
BENCHMARK(BM_LocalInactivityComplete)->Iterations(100000);

void BM_BusInactivityComplete(benchmark::State& state) {
  try {
    BusObject object;
    Queue queue(Session::Get().connection(), object.path());
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
      const auto start = Clock::now();
      queue.InactivityComplete();
      samples.push_back(MicrosSince(start, Clock::now()));
    }
    ReportBus(state, "InactivityComplete", "", samples, "");
  } catch (const sdbus::Error& error) {
    state.SkipWithError(error.what());
  }
}
BENCHMARK(BM_BusInactivityComplete)->Iterations(5000)->Unit(benchmark::kMicrosecond);

// ---- Property set -------------------------------------------------------

void BM_LocalSetInactivityTimeout(benchmark::State& state) {
  LocalObject queue;
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  std::int16_t value = 600;
  for (auto _ : state) {
    value = value == 600 ? 601 : 600;
    const auto start = Clock::now();
    const std::error_code result = queue->put_InactivityTimeout(value);
    samples.push_back(MicrosSince(start, Clock::now()));
    benchmark::DoNotOptimize(result);
  }
  ReportLocal(state, "SetInactivityTimeout", "", samples);
}
BENCHMARK(BM_LocalSetInactivityTimeout)->Iterations(100000);

void BM_BusSetInactivityTimeout(benchmark::State& state) {
  try {
    Session& session = Session::Get();
    BusObject object;
    Queue queue(session.connection(), object.path());
    bool changed = false;
    queue.on_changed = [&](const std::map<std::string, sdbus::Variant>& properties) {
      if (properties.contains("InactivityTimeout")) changed = true;
    };
    std::vector<double> samples, replies;
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    replies.reserve(static_cast<std::size_t>(state.max_iterations));
    std::int16_t value = 600;
    for (auto _ : state) {
      value = value == 600 ? 601 : 600;
      changed = false;
      const auto start = Clock::now();
      queue.InactivityTimeout(value);
      const auto replied = Clock::now();
      if (!session.RunUntil([&] { return changed; })) {
        state.SkipWithError("no PropertiesChanged for InactivityTimeout");
        break;
      }
      const auto handled = Clock::now();
      samples.push_back(MicrosSince(start, handled));
      replies.push_back(MicrosSince(start, replied));
    }
    ReportBus(state, "SetInactivityTimeout", "", samples, "");
    state.counters["reply_median_us"] = Summarize(replies).median;
  } catch (const sdbus::Error& error) {
    state.SkipWithError(error.what());
  }
}
BENCHMARK(BM_BusSetInactivityTimeout)->Iterations(5000)->Unit(benchmark::kMicrosecond);

// ---- Signal delivery ----------------------------------------------------

void BM_LocalHeartbeat(benchmark::State& state) {
  platform::MessageLoop& loop = platform::CurrentMessageLoop();
  LocalObject queue;
  std::shared_ptr<platform::Timer> heartbeat;
  std::uint32_t cookie = 0;
  bool beat = false;
  if (queue->get_HeartbeatTimer(heartbeat) || heartbeat == nullptr ||
      queue->Advise([&](com::QueueEvent event) { beat = beat || event == com::QueueEvent::Heartbeat; }, cookie)) {
    Refuse(state, "the local queue object has no heartbeat timer");
    return;
  }
  heartbeat->SetEnabled(false);
  heartbeat->SetInterval(kHeartbeatMs);
  bool gave_up = false;
  const auto guard = loop.CreateTimer([&] { gave_up = true; });
  guard->SetInterval(static_cast<std::int32_t>(std::chrono::milliseconds(kWaitLimit).count()));
  std::vector<double> samples;
  for (auto _ : state) {
    beat = false;
    gave_up = false;
    guard->SetEnabled(true);
    const auto start = Clock::now();
    heartbeat->SetEnabled(true);
    loop.RunUntil([&] { return beat || gave_up; });
    const auto handled = Clock::now();
    heartbeat->SetEnabled(false);
    guard->SetEnabled(false);
    if (!beat) {
      state.SkipWithError("no Heartbeat from the local queue object");
      break;
    }
    samples.push_back(MicrosSince(start, handled) - kHeartbeatMs * 1000.0);
  }
  static_cast<void>(queue->Unadvise(cookie));
  ReportLocal(state, "Heartbeat", "late_", samples);
}
BENCHMARK(BM_LocalHeartbeat)->Iterations(300)->Unit(benchmark::kMillisecond);

void BM_BusHeartbeat(benchmark::State& state) {
  try {
    Session& session = Session::Get();
    BusObject object;
    Queue queue(session.connection(), object.path());
    QueueTimer heartbeat(session.connection(), queue.HeartbeatTimer());
    bool armed = false;
    bool beat = false;
    queue.on_heartbeat = [&] { beat = beat || armed; };
    heartbeat.Enabled(false);
    heartbeat.Interval(kHeartbeatMs);
    std::vector<double> from_send, from_reply, middle;
    for (auto _ : state) {
      beat = false;
      armed = true;
      const auto start = Clock::now();
      heartbeat.Enabled(true);
      const auto replied = Clock::now();
      const bool arrived = session.RunUntil([&] { return beat; });
      const auto handled = Clock::now();
      armed = false;
      heartbeat.Enabled(false);
      // A beat that was already on its way is not the next sample's.
      session.Drain();
      if (!arrived) {
        state.SkipWithError("no Heartbeat from the server's queue object");
        break;
      }
      const double interval_us = kHeartbeatMs * 1000.0;
      from_send.push_back(MicrosSince(start, handled) - interval_us);
      from_reply.push_back(MicrosSince(replied, handled) - interval_us);
      middle.push_back(MicrosSince(start, handled) - MicrosSince(start, replied) / 2 - interval_us);
    }
    ReportBus(state, "Heartbeat", "late_hi_", from_send, "late_");
    ReportBus(state, "Heartbeat", "late_lo_", from_reply, "late_");
    ReportBus(state, "Heartbeat", "late_mid_", middle, "late_");
    // What the bus adds to the same timer's beat: the emit-to-handler estimate.
    if (const auto local = Baselines().find("Heartbeatlate_"); local != Baselines().end()) {
      state.counters["over_local_mid_us"] = Summarize(middle).median - local->second.median;
    }
  } catch (const sdbus::Error& error) {
    state.SkipWithError(error.what());
  }
}
BENCHMARK(BM_BusHeartbeat)->Iterations(300)->Unit(benchmark::kMillisecond);

// ---- Idle objects -------------------------------------------------------

constexpr auto kIdleWall = std::chrono::seconds(5);

struct IdleFigures {
  double cpu_pct = 0;
  double cpu_pct_stat = 0;
  double wall_s = 0;
};

// CPU of `pid` over kIdleWall of wall time; `wait` spends the time.
IdleFigures MeasureIdle(pid_t pid, const std::function<void()>& wait) {
  const auto wall_start = Clock::now();
  const std::int64_t cpu_start = CpuNs(pid);
  const double stat_start = StatCpuSeconds(pid);
  wait();
  const double stat_end = StatCpuSeconds(pid);
  const std::int64_t cpu_end = CpuNs(pid);
  IdleFigures figures;
  figures.wall_s = std::chrono::duration<double>(Clock::now() - wall_start).count();
  figures.cpu_pct = 100.0 * static_cast<double>(cpu_end - cpu_start) / 1e9 / figures.wall_s;
  figures.cpu_pct_stat = 100.0 * (stat_end - stat_start) / figures.wall_s;
  return figures;
}

struct IdleBaseline {
  double cpu_pct = 0;
  double rss_per_object = 0;
};

// The local figures, by object count, for the bus case that follows.
std::map<std::size_t, IdleBaseline>& IdleBaselines() {
  static std::map<std::size_t, IdleBaseline> baselines;
  return baselines;
}

void ReportIdle(benchmark::State& state, bool local, const IdleFigures& figures, long rss_before, long rss_after,
                std::size_t count) {
  state.SetIterationTime(figures.wall_s);
  state.counters["cpu_pct_of_core"] = figures.cpu_pct;
  state.counters["cpu_pct_stat"] = figures.cpu_pct_stat;
  const double per_object = static_cast<double>(rss_after - rss_before) / static_cast<double>(count);
  state.counters["rss_per_object_B"] = per_object;
  if (local) {
    IdleBaselines()[count] = {figures.cpu_pct, per_object};
  } else if (const auto base = IdleBaselines().find(count); base != IdleBaselines().end()) {
    if (base->second.cpu_pct > 0) state.counters["cpu_vs_local"] = figures.cpu_pct / base->second.cpu_pct;
    if (base->second.rss_per_object > 0) state.counters["rss_vs_local"] = per_object / base->second.rss_per_object;
  }
}

void BM_LocalIdleObjects(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  platform::RaiseDescriptorLimit();
  platform::MessageLoop& loop = platform::CurrentMessageLoop();
  for (auto _ : state) {
    const long rss_before = ResidentBytes(getpid());
    std::vector<std::unique_ptr<LocalObject>> objects;
    for (std::size_t i = 0; i < count; ++i) objects.push_back(std::make_unique<LocalObject>());
    const long rss_after = ResidentBytes(getpid());
    const IdleFigures figures = MeasureIdle(getpid(), [&] {
      bool elapsed = false;
      const auto stop = loop.CreateTimer([&] { elapsed = true; });
      stop->SetInterval(static_cast<std::int32_t>(std::chrono::milliseconds(kIdleWall).count()));
      stop->SetEnabled(true);
      loop.RunUntil([&] { return elapsed; });
    });
    ReportIdle(state, true, figures, rss_before, rss_after, count);
  }
}
BENCHMARK(BM_LocalIdleObjects)->Arg(1000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_BusIdleObjects(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  Session& session = Session::Get();
  const pid_t server = session.server_pid();
  for (auto _ : state) {
    try {
      const long rss_before = ResidentBytes(server);
      std::vector<std::unique_ptr<BusObject>> objects;
      for (std::size_t i = 0; i < count; ++i) objects.push_back(std::make_unique<BusObject>());
      const long rss_after = ResidentBytes(server);
      state.counters["objects_in_server"] = session.factory().ObjectCount();
      // This client only listens; whatever reaches it waits in its socket.
      const IdleFigures figures =
          MeasureIdle(server, [&] { ::usleep(static_cast<useconds_t>(std::chrono::microseconds(kIdleWall).count())); });
      session.Drain();
      ReportIdle(state, false, figures, rss_before, rss_after, count);
    } catch (const sdbus::Error& error) {
      state.SkipWithError(error.what());
      break;
    }
  }
}
BENCHMARK(BM_BusIdleObjects)->Arg(1000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// ---- Create and release -------------------------------------------------

void BM_LocalCreateRelease(benchmark::State& state) {
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto start = Clock::now();
    { LocalObject queue; }
    samples.push_back(MicrosSince(start, Clock::now()));
  }
  state.SetItemsProcessed(state.iterations());
  ReportLocal(state, "CreateRelease", "", samples);
}
BENCHMARK(BM_LocalCreateRelease)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_BusCreateRelease(benchmark::State& state) {
  Factory& factory = Session::Get().factory();
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  try {
    for (auto _ : state) {
      const auto start = Clock::now();
      factory.Release(factory.Create());
      samples.push_back(MicrosSince(start, Clock::now()));
    }
  } catch (const sdbus::Error& error) {
    state.SkipWithError(error.what());
  }
  state.SetItemsProcessed(state.iterations());
  ReportBus(state, "CreateRelease", "", samples, "");
}
BENCHMARK(BM_BusCreateRelease)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The machine's own buses, which this benchmark must never use.
bool IsMachineBus(const std::string& address) {
  return address.find("/run/user/") != std::string::npos || address.find("/run/dbus/") != std::string::npos ||
         address.find("/var/run/dbus/") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* self = argc > 0 ? argv[0] : "bench_bus";
  if (address == nullptr || *address == '\0' || IsMachineBus(address)) {
    std::fprintf(stderr,
                 "bench_bus: %s; it runs only on the build tree's private session bus:\n"
                 "  dbus-run-session --config-file=<build>/dbus/session.conf -- %s\n",
                 address == nullptr || *address == '\0' ? "DBUS_SESSION_BUS_ADDRESS is not set"
                                                        : "DBUS_SESSION_BUS_ADDRESS names the machine's own bus",
                 self);
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    Session::Open(address);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_bus: cannot reach the server: %s\n", error.what());
    Session::Close();
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Session::Close();
  return 0;
}
