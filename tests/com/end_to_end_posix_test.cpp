// The whole road of a message on the real loop: a second process posts
// through shared memory only, the worker hands each message over with
// SendData, this process "sends" it and keeps the last-sent list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/queue_client.h"
#include "com/cls_msg_queue.h"
#include "config/mod_globals.h"
#include "platform/automation/text.h"
#include "platform/child_process/child_process.h"
#include "platform/loop/message_loop.h"
#include "support/scoped_environment.h"

namespace dovel::com {
namespace {

using platform::automation::ToUtf8;

TEST(EndToEnd, MessagesPostedByAnotherProcessGoOutInOrderOnTheRealLoop) {
  testing::ScopedServerEnvironment environment;
  platform::MessageLoop& loop = platform::CurrentMessageLoop();
  const auto queue = clsMsgQueue::New();
  std::u16string work, current, last;
  EXPECT_FALSE(queue->get_WorkQueueGUID(work));
  EXPECT_FALSE(queue->get_CurrentMsgGUID(current));
  EXPECT_FALSE(queue->get_LastSentMsgGUID(last));
  std::shared_ptr<platform::Timer> worker;
  EXPECT_FALSE(queue->get_WorkerTimer(worker));
  worker->SetInterval(20);  // the client may retime the worker

  client::QueueClient link(work, current, last);
  ASSERT_TRUE(link.ok()) << link.status();
  std::vector<std::u16string> sent;
  std::uint32_t cookie = 0;
  EXPECT_FALSE(queue->Advise(
      [&](QueueEvent event) {
        if (event != QueueEvent::SendData) return;
        auto taken = link.TakeCurrent();
        EXPECT_EQ(taken.error, std::error_code());
        sent.push_back(std::move(taken.value));
      },
      cookie));

  platform::ChildProcess poster({DOVEL_DEMO_PATH, "--poster", ToUtf8(work), ToUtf8(current), ToUtf8(last)});
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(poster.ReadLine().empty());

  // Generous: only a machine that stalls for half a minute fails this.
  bool gave_up = false;
  const auto guard = loop.CreateTimer([&] { gave_up = true; });
  guard->SetInterval(30'000);
  guard->SetEnabled(true);
  loop.RunUntil([&] { return sent.size() == 3 || gave_up; });

  EXPECT_THAT(sent, ::testing::ElementsAre(u"Hello", u"How are you?", u"Goodbye"));
  const auto queued = link.Queued();
  EXPECT_EQ(queued.error, std::error_code());
  EXPECT_EQ(queued.value, 0u);
  EXPECT_EQ(poster.Wait(), 0);
  EXPECT_FALSE(queue->UnloadQueue());
}

}  // namespace
}  // namespace dovel::com
