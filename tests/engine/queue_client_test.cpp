// The client's side of a queue: every operation that fails says why, in the
// status of what failed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "client/queue_client.h"
#include "platform/core/error_codes.h"
#include "platform/guid/scripted_guid_source.h"
#include "store/block_layout.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/store_test_support.h"
#include "support/fake_shared_memory.h"
#include "support/identifiers.h"
#include "support/recording_error_object.h"

namespace dovel::client {
namespace {

using testing::NewIdentifier;

// A queue object's three lists, without an engine behind them.
class QueueClientTest : public ::testing::Test {
 protected:
  QueueClientTest() {
    for (store::clsMessages* list : {&work_, &current_, &last_sent_}) {
      EXPECT_EQ(list->Create(NewIdentifier()), 0);
    }
  }

  std::u16string Work() const { return std::u16string(work_.ListGUID()); }
  std::u16string Current() const { return std::u16string(current_.ListGUID()); }
  std::u16string LastSent() const { return std::u16string(last_sent_.ListGUID()); }
  QueueClient Client() const { return QueueClient(Work(), Current(), LastSent()); }

  testing::FakeSharedMemory memory_;
  platform::ScopedOverride<platform::SharedMemory> use_memory_{memory_};
  testing::ScopedRecordingErrorObject errors_;
  store::clsMessages work_, current_, last_sent_;
};

TEST_F(QueueClientTest, ListsThatCannotBeOpenedSayWhyAndSoDoesEveryOperation) {
  const struct {
    std::u16string work, current;
    std::error_code expected;
  } cases[] = {
      {u"{short}", Current(), RuntimeError::kBadIdentifierLength},
      {u"{0000HALF-WRIT-TEN0-0000-000000000000}", Current(), SystemError::kInvalidName},
      {NewIdentifier(), Current(), SystemError::kFileNotFound},
      {Work(), NewIdentifier(), SystemError::kFileNotFound},
  };
  for (const auto& c : cases) {
    QueueClient client(c.work, c.current, LastSent());
    EXPECT_FALSE(client.ok());
    EXPECT_EQ(client.status(), c.expected);
    EXPECT_EQ(client.Post(u"lost").error, c.expected);
    EXPECT_EQ(client.TakeCurrent().error, c.expected);
    EXPECT_EQ(client.Queued().error, c.expected);
  }
  EXPECT_EQ(work_.FirstMsgGUID(), Work()) << "a client that could not open its lists linked something";
}

TEST_F(QueueClientTest, PostSaysWhyNothingWasLinked) {
  QueueClient client = Client();
  ASSERT_TRUE(client.ok()) << client.status();

  memory_.FailNextLock(SystemError::kInvalidHandle);
  EXPECT_EQ(client.Post(u"no lock").error, SystemError::kInvalidHandle);
  {
    platform::ScriptedGuidSource guids;
    platform::ScopedOverride<platform::GuidSource> use_guids(guids);
    guids.FailNext(1, SystemError::kNotEnoughMemory);
    // The client passes on what the source said.
    EXPECT_EQ(client.Post(u"no identifier").error, SystemError::kNotEnoughMemory);
  }
  const auto empty = client.Queued();
  EXPECT_EQ(empty.error, std::error_code());
  EXPECT_EQ(empty.value, 0u);

  const auto posted = client.Post(u"linked");
  ASSERT_EQ(posted.error, std::error_code());
  EXPECT_EQ(work_.FirstMsgGUID(), posted.value.view());

  // Another process left a link behind it that is no identifier: nothing
  // can be linked after that.
  testing::RawBlock(posted.value.str()).SetText(store::layout::kNextMsgGuid, std::u16string(38, u'\0'));
  EXPECT_EQ(client.Post(u"behind").error, SystemError::kInvalidName);
  const auto broken = client.Queued();
  EXPECT_EQ(broken.error, SystemError::kInvalidName);
  EXPECT_EQ(broken.value, 1u);
}

TEST_F(QueueClientTest, QueuedSaysWhenTheChainNeverComesBack) {
  QueueClient client = Client();
  const auto posted = client.Post(u"looping");
  ASSERT_EQ(posted.error, std::error_code());
  store::clsMessage message;
  ASSERT_EQ(message.Load(posted.value), std::error_code());
  message.NextMsgGUID(posted.value);
  const auto queued = client.Queued();
  EXPECT_EQ(queued.error, RuntimeError::kBrokenChain);
  EXPECT_EQ(queued.value, 1u);
}

TEST_F(QueueClientTest, TakeCurrentMovesTheMessageToLastSentOrSaysWhyItCannot) {
  QueueClient client = Client();
  const auto nothing = client.TakeCurrent();
  EXPECT_EQ(nothing.error, std::error_code());  // nothing current is no failure
  EXPECT_EQ(nothing.value, u"");

  // A current message gone with the client that held it.
  current_.FirstMsgGUID(NewIdentifier());
  EXPECT_EQ(client.TakeCurrent().error, SystemError::kFileNotFound);

  const store::Identifier id = store::Identifier::From(NewIdentifier());
  store::clsMessage message;
  ASSERT_EQ(message.Create(id), std::error_code());
  message.Name(u"handed over");
  message.HeadGUID(current_.ListId());
  message.NextMsgGUID(current_.ListId());
  current_.FirstMsgGUID(id);
  const auto taken = client.TakeCurrent();
  EXPECT_EQ(taken.error, std::error_code());
  EXPECT_EQ(taken.value, u"handed over");
  EXPECT_EQ(current_.FirstMsgGUID(), Current());
  EXPECT_EQ(last_sent_.FirstMsgGUID(), id.view());
  EXPECT_EQ(message.HeadGUID(), LastSent());

  EXPECT_EQ(client.MarkLastSent(store::Identifier::From(NewIdentifier())), SystemError::kFileNotFound);
  EXPECT_EQ(last_sent_.FirstMsgGUID(), id.view());
}

}  // namespace
}  // namespace dovel::client
