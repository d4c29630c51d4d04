// The work queue's cross-process lock: a client linking messages while the
// worker takes the head away loses none, and a lock held too long costs a
// tick its dispatch, never the loop its progress.
#include <gmock/gmock.h>

#include <chrono>

#include "engine_fixture.h"
#include "platform/automation/text.h"
#include "platform/child_process/child_process.h"
#include "store/cls_messages.h"
#include "store/list_lock.h"
#include "store/store_test_support.h"
#include "support/fake_shared_memory.h"

namespace dovel::engine {
namespace {

using platform::automation::ToUtf8;
using testing::EngineTest;
using testing::Posted;
using testing::Taken;
using testing::Waiting;

TEST_F(EngineTest, ATickThatCannotGetTheLockDispatchesNothingAndReportsNothing) {
  const auto engine = Start();
  auto client = ClientOf(*engine);
  Posted(client, u"waiting");
  {
    store::clsMessages other_holder;
    ASSERT_EQ(other_holder.Load(engine->WorkQueueGUID), 0);
    const store::ListLock held(other_holder, 0);
    ASSERT_TRUE(held.held());
    Advance(1000);
    EXPECT_TRUE(parent_->events.empty());
    EXPECT_TRUE(engine->tmrWorker()->Enabled());
  }
  Advance(500);
  EXPECT_EQ(parent_->Count("SendData"), 1u);
  EXPECT_TRUE(errors_->calls().empty());
  engine->Form_Unload();
}

// A client writes the head under the lock; while it holds the lock the
// tick must not read the head at all, half-written as it may be.
TEST_F(EngineTest, TheHeadIsReadOnlyUnderTheLock) {
  const auto engine = Start();
  auto client = ClientOf(*engine);
  const std::u16string posted = Posted(client, u"one");
  store::clsMessages writer;
  ASSERT_EQ(writer.Load(engine->WorkQueueGUID), 0);
  {
    const store::ListLock held(writer, 0);
    ASSERT_TRUE(held.held());
    // Half-written, so no identifier: only the raw bytes can hold it.
    testing::RawBlock(engine->WorkQueueGUID).SetText(0, u"{0000HALF-WRIT-TEN0-0000-000000000000}");
    Advance(1000);
    writer.FirstMsgGUID(posted);
  }
  EXPECT_TRUE(errors_->calls().empty()) << "the head was read while another holder wrote it";
  Advance(500);
  EXPECT_EQ(parent_->Count("SendData"), 1u);
  engine->Form_Unload();
}

TEST_F(EngineTest, ALockThatFailsOtherwiseIsReportedAndNothingMovesWithoutIt) {
  testing::FakeSharedMemory memory;
  platform::ScopedOverride<platform::SharedMemory> use_memory(memory);
  const auto engine = Start();
  auto client = ClientOf(*engine);
  Posted(client, u"one");
  memory.FailNextLock(SystemError::kInvalidHandle);
  Advance(500);
  EXPECT_EQ(parent_->Count("SendData"), 0u);
  ASSERT_EQ(errors_->Reports().size(), 1u);
  EXPECT_EQ(errors_->Reports()[0].args.at(0), platform::automation::Variant(std::int32_t{6}));
  EXPECT_EQ(Waiting(client), 1u);
  Advance(500);
  EXPECT_EQ(parent_->Count("SendData"), 1u);
  engine->Form_Unload();
}

TEST_F(EngineTest, MessagesLinkedByAnotherProcessDuringDispatchAreNeverLost) {
  const auto engine = Start(1);
  auto link = ClientOf(*engine);
  std::vector<std::u16string> sent;
  parent_->on_event = [&](const std::string&) { sent.push_back(Taken(link)); };
  constexpr int kCount = 300;
  platform::ChildProcess poster({POSTER_PEER_PATH, std::to_string(kCount), ToUtf8(engine->WorkQueueGUID),
                                 ToUtf8(engine->CurrentMsgGUID), ToUtf8(engine->LastSentMsgGUID)});
  // The worker ticks as fast as virtual time allows while the poster appends.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sent.size() < kCount && std::chrono::steady_clock::now() < give_up) Advance(1);
  ASSERT_EQ(sent.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(ToUtf8(sent[static_cast<std::size_t>(i)]), std::to_string(i));
  EXPECT_EQ(poster.ReadLine(), "done");
  EXPECT_EQ(poster.Wait(), 0);
  EXPECT_TRUE(errors_->calls().empty());
  engine->Form_Unload();
}

}  // namespace
}  // namespace dovel::engine
