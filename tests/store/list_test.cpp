// Lists as chains of blocks: the linking rules, walking a list built by
// another process (and the reverse), and walks that must end on a chain
// another process has corrupted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/automation/text.h"
#include "platform/child_process/child_process.h"
#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/list_walk.h"
#include "store_test_support.h"
#include "support/identifiers.h"
#include "support/recording_error_object.h"

namespace dovel::store {
namespace {

using platform::automation::FromUtf8;
using platform::automation::ToUtf8;
using ::testing::ElementsAre;
using testing::NewIdentifier;

// A list built in this process, with its messages held open.
struct LocalList {
  clsMessages head;
  std::vector<std::unique_ptr<clsMessage>> messages;

  explicit LocalList(const std::vector<std::u16string>& names) {
    const std::u16string head_guid = NewIdentifier();
    EXPECT_EQ(head.Create(head_guid), 0);
    for (const auto& name : names) Append(name);
  }

  clsMessage& Append(const std::u16string& name) {
    auto message = std::make_unique<clsMessage>();
    const std::u16string guid = NewIdentifier();
    EXPECT_EQ(message->Create(guid), 0);
    message->Name(name);
    message->HeadGUID(head.ListGUID());
    message->NextMsgGUID(head.ListGUID());
    if (messages.empty()) {
      head.FirstMsgGUID(guid);
    } else {
      messages.back()->NextMsgGUID(guid);
    }
    messages.push_back(std::move(message));
    return *messages.back();
  }
};

TEST(Lists, OneAndTwoMessagesFollowTheLinkingRules) {
  LocalList list({u"M1"});
  const std::u16string h(list.head.ListGUID());
  EXPECT_EQ(list.head.FirstMsgGUID(), list.messages[0]->szGUID());
  EXPECT_EQ(list.messages[0]->NextMsgGUID(), h);
  EXPECT_EQ(list.messages[0]->HeadGUID(), h);

  list.Append(u"M2");
  EXPECT_EQ(list.messages[0]->NextMsgGUID(), list.messages[1]->szGUID());
  EXPECT_EQ(list.messages[1]->NextMsgGUID(), h);
  EXPECT_EQ(WalkList(list.head).messages,
            (std::vector<std::u16string>{list.messages[0]->szGUID(), list.messages[1]->szGUID()}));
  EXPECT_EQ(WalkList(list.head).error, std::error_code());
}

TEST(Lists, WalkEndsOnCorruptedChains) {
  testing::ScopedRecordingErrorObject errors;
  LocalList cycle({u"a", u"b", u"c"});
  // c points back to b: the chain never returns to the head.
  cycle.messages[2]->NextMsgGUID(cycle.messages[1]->szGUID());
  const ListWalk looped = WalkList(cycle.head);
  EXPECT_EQ(looped.error, RuntimeError::kBrokenChain);
  EXPECT_EQ(looped.messages.size(), 3u);

  LocalList elsewhere({u"a", u"b"});
  // b ends its chain at another list's head.
  elsewhere.messages[1]->HeadGUID(cycle.head.ListGUID());
  elsewhere.messages[1]->NextMsgGUID(cycle.head.ListGUID());
  EXPECT_EQ(WalkList(elsewhere.head).error, RuntimeError::kBrokenChain);

  LocalList self({u"a"});
  self.messages[0]->NextMsgGUID(self.messages[0]->szGUID());
  EXPECT_EQ(WalkList(self.head).error, RuntimeError::kBrokenChain);

  LocalList bounded({u"a", u"b", u"c"});
  EXPECT_EQ(WalkList(bounded.head, 2).error, RuntimeError::kBrokenChain);
}

TEST(Lists, WalkStopsAtAVanishedMessage) {
  testing::ScopedRecordingErrorObject errors;
  LocalList list({u"a", u"b", u"c"});
  list.messages.erase(list.messages.begin() + 1);  // b's only holder lets go
  const ListWalk walk = WalkList(list.head);
  EXPECT_EQ(walk.messages.size(), 1u);
  EXPECT_NE(walk.error, std::error_code());
}

TEST(Lists, WalkSaysWhyALinkCannotBeFollowed) {
  testing::ScopedRecordingErrorObject errors;
  LocalList list({u"a", u"b"});
  list.messages.pop_back();  // b's only holder lets go
  const ListWalk vanished = WalkList(list.head);
  EXPECT_EQ(vanished.messages.size(), 1u);
  EXPECT_EQ(vanished.error, SystemError::kFileNotFound);

  testing::RawBlock(list.messages[0]->szGUID()).SetText(layout::kNextMsgGuid, std::u16string(38, u'\0'));
  const ListWalk unwritten = WalkList(list.head);
  EXPECT_EQ(unwritten.messages.size(), 1u);
  EXPECT_EQ(unwritten.error, SystemError::kInvalidName);
}

TEST(CrossProcess, ThisProcessWalksAListAnotherProcessBuilt) {
  testing::ScopedRecordingErrorObject errors;
  platform::ChildProcess peer({STORE_PEER_PATH, "build-list", "3"});
  const std::u16string head_guid = FromUtf8(peer.ReadLine());
  std::vector<std::u16string> posted;
  for (int i = 0; i < 3; ++i) posted.push_back(FromUtf8(peer.ReadLine()));

  clsMessages head;
  ASSERT_EQ(head.Load(head_guid), 0);
  const ListWalk walk = WalkList(head);
  EXPECT_EQ(walk.error, std::error_code());
  EXPECT_EQ(walk.messages, posted);
  std::vector<std::u16string> names;
  for (const auto& guid : walk.messages) {
    clsMessage message;
    ASSERT_EQ(message.Load(guid), 0);
    names.push_back(message.Name());
  }
  EXPECT_THAT(names, ElementsAre(u"m1", u"m2", u"m3"));
  EXPECT_EQ(peer.Wait(), 0);
  EXPECT_TRUE(errors->calls().empty());
}

TEST(CrossProcess, AnotherProcessWalksAListThisProcessBuilt) {
  LocalList list({u"first", u"second", u"third"});
  const platform::RunResult walk = platform::Run({STORE_PEER_PATH, "walk", ToUtf8(list.head.ListGUID())});
  EXPECT_EQ(walk.status, 0);
  EXPECT_EQ(walk.output, "first\nsecond\nthird\n");
}

TEST(CrossProcess, BlocksDisappearWhenTheLastProcessHoldingThemEnds) {
  std::u16string head_guid;
  {
    platform::ChildProcess peer({STORE_PEER_PATH, "build-list", "1"});
    head_guid = FromUtf8(peer.ReadLine());
    ASSERT_EQ(peer.Wait(), 0);
  }
  testing::ScopedRecordingErrorObject errors;
  clsMessages head;
  EXPECT_NE(head.Load(head_guid), 0);
}

}  // namespace
}  // namespace dovel::store
