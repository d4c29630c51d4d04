// Attaching message records and list heads: result codes, reports, and the
// handle and view that each instance holds and gives back exactly once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "store/identifier.h"
#include "store_test_support.h"
#include "support/fake_shared_memory.h"
#include "support/identifiers.h"
#include "support/recording_error_object.h"

namespace dovel::store {
namespace {

namespace automation = platform::automation;
using ::testing::ElementsAre;
using testing::NewIdentifier;
using testing::RaisedNumber;

// Module and procedure of each report, in order.
std::vector<std::pair<std::u16string, std::u16string>> Sites(const testing::RecordingErrorObject& errors) {
  std::vector<std::pair<std::u16string, std::u16string>> sites;
  for (const auto& report : errors.Reports()) {
    sites.emplace_back(report.args[7].As<std::u16string>(), report.args[8].As<std::u16string>());
  }
  return sites;
}

std::vector<std::int32_t> Numbers(const testing::RecordingErrorObject& errors) {
  std::vector<std::int32_t> numbers;
  for (const auto& report : errors.Reports()) numbers.push_back(report.args[0].As<std::int32_t>());
  return numbers;
}

using Site = std::pair<std::u16string, std::u16string>;

TEST(MessageRecord, MalformedIdentifierIsReportedOnceAndLeavesTheInstanceDetached) {
  for (const std::size_t length : {37u, 39u, 0u}) {
    testing::ScopedRecordingErrorObject errors;
    const std::u16string guid = NewIdentifier();
    const std::u16string malformed = length <= 38 ? guid.substr(0, length) : guid + u"X";
    clsMessage message;
    EXPECT_EQ(message.Create(malformed), ErrorNumber(RuntimeError::kBadIdentifierLength));
    EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessage", u"Create()"}));
    EXPECT_THAT(Numbers(*errors), ElementsAre(160));
    EXPECT_FALSE(testing::BlockExists(guid));

    EXPECT_EQ(RaisedNumber([&] { (void)message.szGUID(); }), RuntimeError::kNotAttached);
    EXPECT_EQ(RaisedNumber([&] { (void)message.Name(); }), RuntimeError::kNotAttached);
    EXPECT_EQ(RaisedNumber([&] { message.Name(u"x"); }), RuntimeError::kNotAttached);
    EXPECT_EQ(RaisedNumber([&] { message.Priority(1); }), RuntimeError::kNotAttached);
    EXPECT_EQ(RaisedNumber([&] { (void)message.Auto(); }), RuntimeError::kNotAttached);
    EXPECT_EQ(RaisedNumber([&] { message.Data(automation::Empty{}); }), RuntimeError::kNotAttached);
    EXPECT_EQ(RaisedNumber([&] { message.HeadGUID(guid); }), RuntimeError::kNotAttached);
    EXPECT_EQ(message.Load(malformed), ErrorNumber(RuntimeError::kBadIdentifierLength));
  }
}

// Text of the right length that is no identifier never reaches the block
// layer, and is refused with the number that layer gives for such a name.
TEST(MessageRecord, TheRightLengthNotOfTheFormIsReportedAs123AndAttachesNothing) {
  for (const std::u16string& text :
       {std::u16string(u"{0000HALF-WRIT-TEN0-0000-000000000000}"), std::u16string(38, u'\0')}) {
    testing::FakeSharedMemory memory;
    platform::ScopedOverride<platform::SharedMemory> use(memory);
    testing::ScopedRecordingErrorObject errors;
    clsMessage message;
    clsMessages head;
    EXPECT_EQ(message.Create(text), ErrorNumber(SystemError::kInvalidName));
    EXPECT_EQ(message.Load(text), ErrorNumber(SystemError::kInvalidName));
    EXPECT_EQ(head.Create(text), ErrorNumber(SystemError::kInvalidName));
    EXPECT_EQ(head.Load(text), ErrorNumber(SystemError::kInvalidName));
    EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessage", u"Create()"}, Site{u"clsMessage", u"Load()"},
                                            Site{u"clsMessages", u"Create()"}, Site{u"clsMessages", u"Load()"}));
    EXPECT_THAT(Numbers(*errors), ElementsAre(123, 123, 123, 123));
    EXPECT_EQ(memory.open_handles(), 0u);
    EXPECT_EQ(RaisedNumber([&] { (void)message.Name(); }), RuntimeError::kNotAttached);
  }
}

// The forms on an Identifier give the caller the status itself: a system
// code stays a system code, not a bare number to guess the space of.
TEST(MessageRecord, TheFormsOnAnIdentifierReturnTheStatusAndReportLikeTheOthers) {
  testing::FakeSharedMemory memory;
  platform::ScopedOverride<platform::SharedMemory> use(memory);
  testing::ScopedRecordingErrorObject errors;
  const Identifier id = Identifier::From(NewIdentifier());
  clsMessage missing, first, second, unmapped;
  EXPECT_EQ(missing.Load(id), SystemError::kFileNotFound);
  ASSERT_EQ(first.Create(id), std::error_code());
  EXPECT_EQ(first.MessageId(), id);
  EXPECT_EQ(first.szGUID(), id.view());
  first.Name(u"shared");
  EXPECT_EQ(second.Create(id), SystemError::kAlreadyExists);
  EXPECT_EQ(second.Name(), u"shared");  // attached all the same
  memory.FailNextMap(SystemError::kNotEnoughMemory);
  EXPECT_EQ(unmapped.Create(Identifier::From(NewIdentifier())), SystemError::kNotEnoughMemory);

  const Identifier list_id = Identifier::From(NewIdentifier());
  clsMessages head, again;
  EXPECT_EQ(again.Load(list_id), SystemError::kFileNotFound);
  ASSERT_EQ(head.Create(list_id), std::error_code());
  EXPECT_EQ(head.ListId(), list_id);
  EXPECT_EQ(head.FirstMsgGUID(), list_id.view());  // a new head is an empty list
  EXPECT_EQ(again.Create(list_id), SystemError::kAlreadyExists);
  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessage", u"Load()"}, Site{u"clsMessage", u"Create()"},
                                          Site{u"clsMessages", u"Load()"}));
  EXPECT_THAT(Numbers(*errors), ElementsAre(2, 8, 2));
}

// The block's name is the text as given, so the case of its letters counts.
TEST(MessageRecord, IdentifiersThatDifferOnlyInCaseNameDifferentBlocks) {
  testing::FakeSharedMemory memory;
  platform::ScopedOverride<platform::SharedMemory> use(memory);
  testing::ScopedRecordingErrorObject errors;
  const std::u16string lower = u"{0f8fad5b-d9cb-469f-a165-70867728950e}";
  clsMessage message, other;
  ASSERT_EQ(message.Create(lower), 0);
  EXPECT_EQ(message.szGUID(), lower);
  EXPECT_EQ(other.Load(u"{0F8FAD5B-D9CB-469F-A165-70867728950E}"), ErrorNumber(SystemError::kFileNotFound));
}

TEST(MessageRecord, CreateTwiceGivesZeroThenAlreadyExistsAndKeepsTheStoredIdentifier) {
  testing::ScopedRecordingErrorObject errors;
  const std::u16string guid = NewIdentifier();
  clsMessage first, second;
  ASSERT_EQ(first.Create(guid), 0);
  {
    testing::RawBlock raw(guid);
    raw.set(2, 'Z');  // someone rewrote the identifier field
  }
  first.Name(u"shared");
  EXPECT_EQ(second.Create(guid), ErrorNumber(SystemError::kAlreadyExists));
  EXPECT_EQ(second.szGUID()[1], u'Z');  // not rewritten by the second Create
  EXPECT_EQ(second.Name(), u"shared");
  second.Priority(9);
  EXPECT_EQ(first.Priority(), 9);
  EXPECT_TRUE(errors->calls().empty());
}

TEST(MessageRecord, LoadOfAMissingBlockReturnsTheSystemCodeAndReportsIt) {
  testing::ScopedRecordingErrorObject errors;
  clsMessage message;
  EXPECT_EQ(message.Load(NewIdentifier()), ErrorNumber(SystemError::kFileNotFound));
  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessage", u"Load()"}));
  EXPECT_THAT(Numbers(*errors), ElementsAre(2));
}

TEST(MessageRecord, NextMessageFollowsTheChainAndReportsTwiceWhenTheNextBlockIsGone) {
  testing::ScopedRecordingErrorObject errors;
  const std::u16string head = NewIdentifier(), a = NewIdentifier(), b = NewIdentifier();
  clsMessage first, unlinked;
  ASSERT_EQ(first.Create(a), 0);
  ASSERT_EQ(unlinked.Create(NewIdentifier()), 0);
  EXPECT_EQ(unlinked.NextMessage(), nullptr);  // never linked: both fields unset

  first.HeadGUID(head);
  first.NextMsgGUID(head);
  EXPECT_EQ(first.NextMessage(), nullptr);  // last of its list
  EXPECT_TRUE(errors->calls().empty());

  {
    clsMessage second;
    ASSERT_EQ(second.Create(b), 0);
    first.NextMsgGUID(b);
    const auto next = first.NextMessage();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->szGUID(), b);
  }
  // The only handle to b is gone, and with it the block.
  EXPECT_EQ(first.NextMessage(), nullptr);
  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessage", u"Load()"}, Site{u"clsMessage", u"NextMessage[Get]"}));
  EXPECT_THAT(Numbers(*errors), ElementsAre(2, 2));
}

TEST(MessageRecord, FailedMappingClosesTheHandleOnceAndTerminationReleasesNothingMore) {
  testing::FakeSharedMemory memory;
  platform::ScopedOverride<platform::SharedMemory> use(memory);
  testing::ScopedRecordingErrorObject errors;
  {
    clsMessage message;
    memory.FailNextMap(SystemError::kNotEnoughMemory);
    EXPECT_EQ(message.Create(NewIdentifier()), ErrorNumber(SystemError::kNotEnoughMemory));
    EXPECT_EQ(memory.closes(), 1);
    EXPECT_EQ(RaisedNumber([&] { (void)message.Name(); }), RuntimeError::kNotAttached);
  }
  EXPECT_EQ(memory.closes(), 1);
  EXPECT_EQ(memory.unmaps(), 0);
  EXPECT_EQ(memory.bad_releases(), 0);
  EXPECT_THAT(Numbers(*errors), ElementsAre(8));
}

TEST(MessageRecord, TerminationUnmapsAndClosesExactlyOnce) {
  testing::FakeSharedMemory memory;
  platform::ScopedOverride<platform::SharedMemory> use(memory);
  {
    clsMessage message;
    ASSERT_EQ(message.Create(NewIdentifier()), 0);
  }
  EXPECT_EQ(memory.unmaps(), 1);
  EXPECT_EQ(memory.closes(), 1);
  EXPECT_EQ(memory.bad_releases(), 0);
  EXPECT_EQ(memory.open_handles(), 0u);
}

TEST(MessageRecord, AttachingAgainLetsGoOfTheFirstBlock) {
  testing::FakeSharedMemory memory;
  platform::ScopedOverride<platform::SharedMemory> use(memory);
  const std::u16string a = NewIdentifier(), b = NewIdentifier();
  clsMessage message;
  ASSERT_EQ(message.Create(a), 0);
  ASSERT_EQ(message.Create(b), 0);
  EXPECT_FALSE(memory.Exists(std::string(a.begin(), a.end())));  // its only holder let go
  EXPECT_EQ(memory.open_handles(), 1u);
  EXPECT_EQ(message.szGUID(), b);

  clsMessages head;
  ASSERT_EQ(head.Create(a), 0);
  EXPECT_NE(head.Load(NewIdentifier()), 0);  // a failed second attach leaves it detached
  EXPECT_EQ(RaisedNumber([&] { (void)head.FirstMsgGUID(); }), RuntimeError::kNotAttached);
  EXPECT_EQ(memory.open_handles(), 1u);
}

TEST(ListHead, CreateStartsAnEmptyListAndAnExistingHeadKeepsItsList) {
  testing::ScopedRecordingErrorObject errors;
  const std::u16string guid = NewIdentifier(), message_guid = NewIdentifier();
  clsMessages head, again;
  ASSERT_EQ(head.Create(guid), 0);
  EXPECT_EQ(head.FirstMsgGUID(), guid);
  EXPECT_EQ(head.FirstMsg(), nullptr);

  clsMessage message;
  ASSERT_EQ(message.Create(message_guid), 0);
  head.FirstMsgGUID(message_guid);
  EXPECT_EQ(again.Create(guid), ErrorNumber(SystemError::kAlreadyExists));
  EXPECT_EQ(again.FirstMsgGUID(), message_guid);
  const auto first = again.FirstMsg();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->szGUID(), message_guid);
  EXPECT_TRUE(errors->calls().empty());
}

TEST(ListHead, MalformedIdentifiersAreRefusedWithOneReportOrARaise) {
  testing::ScopedRecordingErrorObject errors;
  clsMessages head;
  EXPECT_EQ(head.Create(NewIdentifier() + u"X"), ErrorNumber(RuntimeError::kBadIdentifierLength));
  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessages", u"Create()"}));
  EXPECT_EQ(RaisedNumber([&] { (void)head.FirstMsgGUID(); }), RuntimeError::kNotAttached);

  const std::u16string guid = NewIdentifier();
  clsMessages good;
  ASSERT_EQ(good.Create(guid), 0);
  testing::RawBlock raw(guid);
  const auto before = raw.Snapshot();
  EXPECT_EQ(RaisedNumber([&] { good.FirstMsgGUID(guid.substr(0, 37)); }), RuntimeError::kBadIdentifierLength);
  EXPECT_EQ(RaisedNumber([&] { good.FirstMsgGUID(guid + u"X"); }), RuntimeError::kBadIdentifierLength);
  EXPECT_EQ(raw.Snapshot(), before);
  EXPECT_EQ(errors->Reports().size(), 1u);  // the lets raise, they do not report
}

TEST(ListHead, FirstMsgOfAVanishedBlockIsNoneAfterTwoReports) {
  testing::ScopedRecordingErrorObject errors;
  clsMessages head;
  ASSERT_EQ(head.Create(NewIdentifier()), 0);
  head.FirstMsgGUID(NewIdentifier());
  EXPECT_EQ(head.FirstMsg(), nullptr);
  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessage", u"Load()"}, Site{u"clsMessages", u"FirstMsg[Get]"}));
  EXPECT_THAT(Numbers(*errors), ElementsAre(2, 2));
}

// Links another process wrote: the first message and the next one each
// say why they cannot be followed, in the status their Load trapped.
TEST(ListHead, FirstMsgAndNextMessageSayWhyALinkCannotBeFollowed) {
  testing::ScopedRecordingErrorObject errors;
  const std::u16string head_guid = NewIdentifier(), a = NewIdentifier();
  clsMessages head;
  ASSERT_EQ(head.Create(head_guid), 0);
  std::error_code failure = RuntimeError::kInternalError;
  EXPECT_EQ(head.FirstMsg(failure), nullptr);
  EXPECT_EQ(failure, std::error_code());  // an empty list is no failure

  clsMessage message;
  ASSERT_EQ(message.Create(a), 0);
  message.HeadGUID(head_guid);
  message.NextMsgGUID(head_guid);
  head.FirstMsgGUID(a);
  const auto first = head.FirstMsg(failure);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(failure, std::error_code());
  EXPECT_EQ(first->MessageId(), Identifier::From(a));
  failure = RuntimeError::kInternalError;
  EXPECT_EQ(first->NextMessage(failure), nullptr);
  EXPECT_EQ(failure, std::error_code());  // the end of the list

  message.NextMsgGUID(NewIdentifier());  // a block gone with its last holder
  EXPECT_EQ(first->NextMessage(failure), nullptr);
  EXPECT_EQ(failure, SystemError::kFileNotFound);
  testing::RawBlock(a).SetText(layout::kNextMsgGuid, std::u16string(38, u'\0'));
  EXPECT_EQ(first->NextMessage(failure), nullptr);
  EXPECT_EQ(failure, SystemError::kInvalidName);
  testing::RawBlock(head_guid).SetText(layout::kFirstMsgGuid, u"{0000HALF-WRIT-TEN0-0000-000000000000}");
  EXPECT_EQ(head.FirstMsg(failure), nullptr);
  EXPECT_EQ(failure, SystemError::kInvalidName);

  clsMessages detached;
  EXPECT_EQ(detached.FirstMsg(failure), nullptr);
  EXPECT_EQ(failure, RuntimeError::kNotAttached);

  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessage", u"Load()"}, Site{u"clsMessage", u"NextMessage[Get]"},
                                          Site{u"clsMessage", u"Load()"}, Site{u"clsMessage", u"NextMessage[Get]"},
                                          Site{u"clsMessage", u"Load()"}, Site{u"clsMessages", u"FirstMsg[Get]"},
                                          Site{u"clsMessages", u"FirstMsg[Get]"}));
  EXPECT_THAT(Numbers(*errors), ElementsAre(2, 2, 123, 123, 123, 123, 13));
}

TEST(ListHead, LoadOpensAnExistingHeadWithoutWritingIt) {
  testing::ScopedRecordingErrorObject errors;
  const std::u16string guid = NewIdentifier();
  clsMessages head, loaded, missing;
  ASSERT_EQ(head.Create(guid), 0);
  ASSERT_EQ(loaded.Load(guid), 0);
  EXPECT_EQ(loaded.FirstMsgGUID(), guid);
  EXPECT_EQ(missing.Load(NewIdentifier()), ErrorNumber(SystemError::kFileNotFound));
  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessages", u"Load()"}));
}

}  // namespace
}  // namespace dovel::store
