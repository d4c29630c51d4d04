// The queue object as a client sees it: creation on the settings, the
// identifiers and timers it hands out, events to connected sinks, unloading
// and release.
#include <gmock/gmock.h>

#include <algorithm>
#include <set>
#include <thread>

#include "config/mod_registry.h"
#include "queue_object_fixture.h"
#include "store/cls_messages.h"

namespace dovel::com {
namespace {

using testing::EventLog;
using testing::QueueObjectTest;

TEST_F(QueueObjectTest, CreationWritesTheDefaultSettingsAndStartsOnlyTheWorker) {
  const auto queue = clsMsgQueue::New();
  std::shared_ptr<platform::Timer> worker, timeout;
  EXPECT_EQ(queue->get_WorkerTimer(worker), std::error_code());
  EXPECT_EQ(worker->Interval(), 500);
  EXPECT_TRUE(worker->Enabled());
  EXPECT_FALSE(queue->get_TimeoutTimer(timeout));
  EXPECT_FALSE(timeout->Enabled());
  EXPECT_EQ(config::GetAppSetting(u"Vimra", u"Communications", u"StandardPollRate", u"absent"), u"500");
  EXPECT_EQ(config::GetAppSetting(u"Vimra", u"Setup", u"WarningLevel", u"absent"), u"5");
  ASSERT_EQ(error_objects_.size(), 1u);
  EXPECT_EQ(g_oErrorObject, error_objects_[0]);

  std::u16string first[3], again[3];
  EXPECT_FALSE(queue->get_WorkQueueGUID(first[0]));
  EXPECT_FALSE(queue->get_CurrentMsgGUID(first[1]));
  EXPECT_FALSE(queue->get_LastSentMsgGUID(first[2]));
  loop_.AdvanceMilliseconds(5000);
  EXPECT_FALSE(queue->get_WorkQueueGUID(again[0]));
  EXPECT_FALSE(queue->get_CurrentMsgGUID(again[1]));
  EXPECT_FALSE(queue->get_LastSentMsgGUID(again[2]));
  EXPECT_TRUE(std::equal(std::begin(first), std::end(first), std::begin(again)));
  EXPECT_EQ(std::set<std::u16string>(std::begin(first), std::end(first)).size(), 3u);
  EXPECT_EQ(error_objects_[0]->Reports().size(), 0u);
  EXPECT_FALSE(queue->UnloadQueue());
}

TEST_F(QueueObjectTest, TwoObjectsNeverSeeEachOthersEvents) {
  const auto a = clsMsgQueue::New(), b = clsMsgQueue::New();
  EventLog a_events, b_events;
  std::uint32_t cookie = 0;
  EXPECT_FALSE(a->Advise(a_events.Sink(), cookie));
  EXPECT_FALSE(b->Advise(b_events.Sink(), cookie));
  auto a_client = ClientOf(*a);
  EXPECT_EQ(a_client->Post(u"for a").error, std::error_code());
  Heartbeat(*b)->SetInterval(1000);
  Heartbeat(*b)->SetEnabled(true);
  loop_.AdvanceMilliseconds(1000);
  EXPECT_EQ(a_events.events, std::vector<QueueEvent>{QueueEvent::SendData});
  EXPECT_EQ(b_events.events, std::vector<QueueEvent>{QueueEvent::Heartbeat});
  EXPECT_FALSE(a->UnloadQueue());
  EXPECT_FALSE(b->UnloadQueue());
}

TEST_F(QueueObjectTest, EveryEventGoesToTheSinksConnectedWhenItStarted) {
  const auto queue = clsMsgQueue::New();
  EventLog first, second;
  std::uint32_t first_cookie = 0, second_cookie = 0, third_cookie = 0;
  EXPECT_FALSE(queue->Advise(
      [&](QueueEvent e) {
        first.events.push_back(e);
        // The second still gets this event; from the second tick on there is
        // nothing left to disconnect, so what Unadvise says does not matter.
        static_cast<void>(queue->Unadvise(second_cookie));
      },
      first_cookie));
  EXPECT_FALSE(queue->Advise(second.Sink(), second_cookie));
  Heartbeat(*queue)->SetInterval(1000);
  Heartbeat(*queue)->SetEnabled(true);
  loop_.AdvanceMilliseconds(2000);
  EXPECT_EQ(first.Count(QueueEvent::Heartbeat), 2u);
  EXPECT_EQ(second.Count(QueueEvent::Heartbeat), 1u);
  EXPECT_EQ(queue->Unadvise(second_cookie), HResult::kNoConnection);

  // A handler that unloads: the tick ends, nothing more is raised.
  EXPECT_FALSE(queue->Advise([&](QueueEvent) { EXPECT_FALSE(queue->UnloadQueue()); }, third_cookie));
  loop_.AdvanceMilliseconds(5000);
  EXPECT_EQ(first.Count(QueueEvent::Heartbeat), 3u);
}

TEST_F(QueueObjectTest, AfterUnloadQueueMembersOnlyTouchTheStoppedEngine) {
  const auto queue = clsMsgQueue::New();
  EventLog log;
  std::uint32_t cookie = 0;
  EXPECT_FALSE(queue->Advise(log.Sink(), cookie));
  std::u16string work;
  EXPECT_FALSE(queue->get_WorkQueueGUID(work));
  EXPECT_EQ(queue->UnloadQueue(), std::error_code());
  EXPECT_EQ(queue->UnloadQueue(), std::error_code());

  EXPECT_EQ(queue->put_Disconnecting(false), std::error_code());
  EXPECT_EQ(queue->put_InactivityTimeout(-1), std::error_code());
  EXPECT_EQ(queue->InactivityComplete(), std::error_code());
  std::u16string after;
  EXPECT_FALSE(queue->get_WorkQueueGUID(after));
  EXPECT_EQ(after, work);
  std::shared_ptr<platform::Timer> worker;
  EXPECT_FALSE(queue->get_WorkerTimer(worker));
  EXPECT_FALSE(worker->Enabled());
  Heartbeat(*queue)->SetInterval(100);
  Heartbeat(*queue)->SetEnabled(true);  // a client may still arm it
  loop_.AdvanceMilliseconds(5000);
  EXPECT_TRUE(log.events.empty());
  EXPECT_EQ(error_objects_[0]->Reports().size(), 0u);
}

TEST_F(QueueObjectTest, ReleasedWithoutUnloadItStaysAliveAndKeepsRaising) {
  EventLog log;
  std::weak_ptr<clsMsgQueue> weak;
  {
    auto queue = clsMsgQueue::New();
    std::uint32_t cookie = 0;
    EXPECT_FALSE(queue->Advise(log.Sink(), cookie));
    Heartbeat(*queue)->SetInterval(1000);
    Heartbeat(*queue)->SetEnabled(true);
    weak = queue;
  }
  loop_.AdvanceMilliseconds(3000);
  EXPECT_FALSE(weak.expired());
  EXPECT_EQ(log.Count(QueueEvent::Heartbeat), 3u);

  // Unloading breaks the engine's hold; the last release then ends it.
  EXPECT_FALSE(weak.lock()->UnloadQueue());
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(g_oErrorObject, nullptr);  // termination empties the thread's error object
}

TEST_F(QueueObjectTest, TheThreadsErrorLogEndsWithTheLastQueueObjectNotTheFirst) {
  auto first = clsMsgQueue::New();
  auto second = clsMsgQueue::New();
  ASSERT_EQ(error_objects_.size(), 2u);
  EXPECT_FALSE(first->UnloadQueue());
  first.reset();
  EXPECT_EQ(g_oErrorObject, error_objects_[1]) << "the queue still running lost its error log";

  // The remaining queue's failures still reach the log.
  std::u16string work_queue;
  EXPECT_FALSE(second->get_WorkQueueGUID(work_queue));
  store::clsMessages work;
  ASSERT_EQ(work.Load(work_queue), 0);
  work.FirstMsgGUID(u"{0BADF00D-0000-4000-8000-000000000000}");
  loop_.AdvanceMilliseconds(500);
  EXPECT_FALSE(error_objects_[1]->Reports().empty());

  EXPECT_FALSE(second->UnloadQueue());
  second.reset();
  EXPECT_EQ(g_oErrorObject, nullptr);
}

TEST_F(QueueObjectTest, CallsFromAnotherThreadAreRefused) {
  const auto queue = clsMsgQueue::New();
  std::error_code put, get, unload;
  std::u16string work = u"untouched";
  std::thread([&] {
    put = queue->put_Disconnecting(true);
    get = queue->get_WorkQueueGUID(work);
    unload = queue->UnloadQueue();
  }).join();
  EXPECT_EQ(put, HResult::kWrongThread);
  EXPECT_EQ(get, HResult::kWrongThread);
  EXPECT_EQ(unload, HResult::kWrongThread);
  std::shared_ptr<platform::Timer> worker;
  EXPECT_FALSE(queue->get_WorkerTimer(worker));
  EXPECT_TRUE(worker->Enabled());
  EXPECT_FALSE(queue->UnloadQueue());
}

}  // namespace
}  // namespace dovel::com
