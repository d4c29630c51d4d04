// Posting behind a long queue, through the C library, against the empty
// queue measured in the same run:
//   BM_Post/N           one poster posts into a work queue already holding
//                       N messages; vs_empty is its cost per post over the
//                       cost at N = 0 (the client remembers its tail)
//   BM_PostAlternating/N  two posters take turns, so each finds the other's
//                       message at the end and walks the chain: what the
//                       remembered tail saves
// Nothing dispatches: the queue only grows, by the iterations of a case.
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "dovel/client.h"
#include "platform/automation/text.h"
#include "platform/guid/guid_source.h"
#include "platform/process/descriptor_limit.h"
#include "store/cls_messages.h"
#include "store/identifier.h"

namespace {

using namespace dovel;
using Clock = std::chrono::steady_clock;

store::Identifier FreshIdentifier() {
  platform::Guid guid;
  if (const std::error_code failed = platform::CurrentGuidSource().CreateGuid(guid)) {
    throw std::system_error(failed, "no identifier for the benchmark");
  }
  return store::Identifier::From(guid);
}

// A work queue of its own for each case; it goes with the case.
class WorkQueue {
 public:
  WorkQueue() : id_(FreshIdentifier()) {
    if (head_.Create(id_)) throw std::runtime_error("cannot create the work queue");
    text_ = platform::automation::ToUtf8(id_.view());
  }
  dovel_queue* OpenPoster() {
    dovel_queue* queue = nullptr;
    if (dovel_queue_open(text_.c_str(), nullptr, nullptr, &queue) != DOVEL_OK) {
      throw std::runtime_error("cannot open the work queue");
    }
    posters_.emplace_back(queue);
    return queue;
  }

 private:
  struct Closer {
    void operator()(dovel_queue* queue) const { dovel_queue_close(queue); }
  };
  store::Identifier id_;
  store::clsMessages head_;
  std::string text_;
  std::vector<std::unique_ptr<dovel_queue, Closer>> posters_;
};

void PostOne(benchmark::State& state, dovel_queue* poster) {
  static constexpr char kData[] = "payload";
  const dovel_result posted = dovel_queue_post(poster, "Message", kData, sizeof kData, 0, nullptr);
  if (posted != DOVEL_OK) state.SkipWithError(dovel_result_text(posted));
}

// Cost per post of each case, by name, to set each against its N = 0 twin.
std::map<std::string, double>& Baselines() {
  static std::map<std::string, double> baselines;
  return baselines;
}

void Measure(benchmark::State& state, const std::string& family, const std::vector<dovel_queue*>& posters) {
  const auto queued = static_cast<int>(state.range(0));
  for (int i = 0; i < queued; ++i) PostOne(state, posters[static_cast<std::size_t>(i) % posters.size()]);
  std::size_t turn = 0;
  Clock::duration spent{};
  for (auto _ : state) {
    const auto start = Clock::now();
    PostOne(state, posters[turn++ % posters.size()]);
    spent += Clock::now() - start;
  }
  const double per_post = std::chrono::duration<double, std::micro>(spent).count() / static_cast<double>(turn);
  state.counters["us_per_post"] = per_post;
  if (queued == 0) Baselines()[family] = per_post;
  if (const auto base = Baselines().find(family); base != Baselines().end()) {
    state.counters["vs_empty"] = per_post / base->second;
  }
}

void BM_Post(benchmark::State& state) {
  WorkQueue queue;
  Measure(state, "Post", {queue.OpenPoster()});
}

void BM_PostAlternating(benchmark::State& state) {
  WorkQueue queue;
  Measure(state, "PostAlternating", {queue.OpenPoster(), queue.OpenPoster()});
}

// Each held message is a descriptor and the queues reach 6,000 messages.
const long kDescriptors = platform::RaiseDescriptorLimit();

BENCHMARK(BM_Post)->Arg(0)->Arg(1000)->Arg(5000)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PostAlternating)->Arg(0)->Arg(1000)->Arg(5000)->Iterations(20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
