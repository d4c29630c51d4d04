// Attaching message records and list heads: result codes, reports, and the
// handle and view that each instance holds and gives back exactly once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "platform/core/system_error.h"
#include "store/cls_message.h"
#include "store/cls_messages.h"
#include "support/fake_shared_memory.h"
#include "support/identifiers.h"
#include "support/recording_error_object.h"
#include "store_test_support.h"

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
  EXPECT_EQ(second.Create(guid), platform::win32_error::kAlreadyExists);
  EXPECT_EQ(second.szGUID()[1], u'Z');  // not rewritten by the second Create
  EXPECT_EQ(second.Name(), u"shared");
  second.Priority(9);
  EXPECT_EQ(first.Priority(), 9);
  EXPECT_TRUE(errors->calls().empty());
}

TEST(MessageRecord, LoadOfAMissingBlockReturnsTheSystemCodeAndReportsIt) {
  testing::ScopedRecordingErrorObject errors;
  clsMessage message;
  EXPECT_EQ(message.Load(NewIdentifier()), platform::win32_error::kFileNotFound);
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
    EXPECT_EQ(message.Create(NewIdentifier()), platform::win32_error::kNotEnoughMemory);
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
  EXPECT_EQ(again.Create(guid), platform::win32_error::kAlreadyExists);
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
  EXPECT_THAT(Sites(*errors),
              ElementsAre(Site{u"clsMessage", u"Load()"}, Site{u"clsMessages", u"FirstMsg[Get]"}));
  EXPECT_THAT(Numbers(*errors), ElementsAre(2, 2));
}

TEST(ListHead, LoadOpensAnExistingHeadWithoutWritingIt) {
  testing::ScopedRecordingErrorObject errors;
  const std::u16string guid = NewIdentifier();
  clsMessages head, loaded, missing;
  ASSERT_EQ(head.Create(guid), 0);
  ASSERT_EQ(loaded.Load(guid), 0);
  EXPECT_EQ(loaded.FirstMsgGUID(), guid);
  EXPECT_EQ(missing.Load(NewIdentifier()), platform::win32_error::kFileNotFound);
  EXPECT_THAT(Sites(*errors), ElementsAre(Site{u"clsMessages", u"Load()"}));
}

}  // namespace
}  // namespace dovel::store
