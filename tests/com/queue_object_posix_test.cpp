// The queue object under the process limits of POSIX: a forked child runs
// out of descriptors.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

#include "queue_object_fixture.h"
#include "store/cls_messages.h"

namespace dovel::com {
namespace {

using testing::QueueObjectTest;

// Each object holds three blocks, so three descriptors: running out is a
// reported failure of that object's start, never a crash.
TEST_F(QueueObjectTest, RunningOutOfDescriptorsFailsOneStartCleanly) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // One object and one report before the limit: the sanitizers' runtime
    // checks a virtual call's target the first time it sees it, and needs a
    // descriptor of its own to do so, which it would not get later.
    auto first = clsMsgQueue::New();
    store::clsMessages probe;
    static_cast<void>(probe.Load(u"{00000000-0000-0000-0000-000000000000}"));  // fails: its report is the point
    EXPECT_FALSE(first->UnloadQueue());
    first.reset();
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<std::shared_ptr<clsMsgQueue>> queues;
    int status = 1;
    for (int i = 0; i < 64 && status == 1; ++i) {
      queues.push_back(clsMsgQueue::New());
      std::shared_ptr<platform::Timer> worker;
      if (queues.back()->get_WorkerTimer(worker) || !worker->Enabled()) {
        const auto reports = std::static_pointer_cast<testing::RecordingErrorObject>(g_oErrorObject)->Reports();
        const bool out_of_descriptors = !reports.empty() && reports.back().args[0].As<std::int32_t>() == 4 &&
                                        reports.back().args[8].As<std::u16string>() == u"Form_Load()";
        status = out_of_descriptors ? 0 : 2;
      }
    }
    // Only the objects' end matters here, not what UnloadQueue returns.
    for (const auto& queue : queues) static_cast<void>(queue->UnloadQueue());
    queues.clear();
    _exit(status);
  }
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << "1: never ran out, 2: the failure was not reported as error 4";
}

// What a thread without a loop got: 0 for an inert object and one report.
struct LooplessStart {
  bool limit_descriptors = false;
  std::shared_ptr<testing::RecordingErrorObject>* log = nullptr;
  int status = 1;
};

void StartWithoutALoop(LooplessStart* start) {
  if (start->limit_descriptors) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = 3;  // nothing beyond the standard streams
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  std::shared_ptr<clsMsgQueue> queue;
  try {
    queue = clsMsgQueue::New();
  } catch (...) {
    start->status = 2;
    return;
  }
  std::shared_ptr<platform::Timer> worker;
  std::u16string work_queue = u"unchanged";
  const bool inert = queue->get_WorkerTimer(worker) == std::error_code() && worker == nullptr &&
                     queue->get_WorkQueueGUID(work_queue) == std::error_code() && work_queue.empty() &&
                     queue->UnloadQueue() == std::error_code();
  // Without descriptors the settings store cannot be read either, which is
  // reported on its own; the failed start is reported once.
  const auto& log = *start->log;
  const auto reports = log != nullptr ? log->Reports() : std::vector<testing::RecordingErrorObject::Received>{};
  const bool reported_once = std::count_if(reports.begin(), reports.end(), [](const auto& report) {
                               return report.args.at(8).template As<std::u16string>() == u"Class_Initialize()";
                             }) == 1;
  start->status = inert ? (reported_once ? 0 : 4) : 3;
  EXPECT_FALSE(queue->UnloadQueue());
  queue.reset();
  g_oErrorObject.reset();
}

// A thread that cannot make its message loop (no descriptor left for it)
// still gets its object: an inert one, and one report of the failed start.
TEST(QueueObjectWithoutALoop, IsCreatedInertAndTheFailureReportedOnce) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    testing::ScopedServerEnvironment environment;
    platform::automation::ClassTable classes;
    platform::ScopedOverride<platform::automation::ObjectFactory> use_classes(classes);
    std::shared_ptr<testing::RecordingErrorObject> log;
    classes.Register("ErrorObject.clsErrorObject", [&] {
      log = std::make_shared<testing::RecordingErrorObject>();
      return log;
    });
    // The sanitizers' runtime needs descriptors the first time it checks a
    // virtual call's target, so every type involved is seen once while there
    // are some: the same start on a thread of the same kind, with its loop,
    // and what the loop throws when it cannot be made.
    LooplessStart warm{false, &log};
    std::thread(StartWithoutALoop, &warm).join();
    try {
      throw std::system_error(EMFILE, std::generic_category(), "uv_loop_init");
    } catch (const std::system_error&) {
    }
    store::clsMessages report_once;
    static_cast<void>(report_once.Load(u"{00000000-0000-0000-0000-000000000000}"));  // fails: its report is the point
    log.reset();

    LooplessStart start{true, &log};
    std::thread(StartWithoutALoop, &start).join();
    _exit(start.status);
  }
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFEXITED(raw)) << "the creation took the process down";
  EXPECT_EQ(WEXITSTATUS(raw), 0) << "2: creation threw, 3: the object was not inert, 4: not one report";
}

}  // namespace
}  // namespace dovel::com
