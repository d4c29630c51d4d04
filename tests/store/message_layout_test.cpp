// The message block as other processes see it: field offsets, encodings,
// remnants and the refusals that keep a write inside its field.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/core/error_codes.h"
#include "store/block_layout.h"
#include "store/block_primitives.h"
#include "store/cls_message.h"
#include "store_test_support.h"
#include "support/identifiers.h"
#include "support/recording_error_object.h"

namespace dovel::store {
namespace {

namespace automation = platform::automation;
using testing::NewIdentifier;
using testing::RaisedNumber;
using testing::RawBlock;

class MessageLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    guid_ = NewIdentifier();
    ASSERT_EQ(message_.Create(guid_), 0);
    raw_ = std::make_unique<RawBlock>(guid_);
    ASSERT_TRUE(raw_->ok());
  }

  std::u16string Text(std::size_t offset, std::size_t units) const {
    std::u16string text;
    for (std::size_t i = 0; i < units; ++i) {
      text += static_cast<char16_t>(raw_->at(offset + 2 * i) | raw_->at(offset + 2 * i + 1) << 8);
    }
    return text;
  }

  testing::ScopedRecordingErrorObject errors_;
  std::u16string guid_;
  clsMessage message_;
  std::unique_ptr<RawBlock> raw_;
};

TEST_F(MessageLayout, NewMessageReadsAsEmptyFieldsWithItsOwnIdentifier) {
  EXPECT_EQ(message_.szGUID(), guid_);
  EXPECT_EQ(Text(0, 38), guid_);
  EXPECT_EQ(message_.Name(), u"");
  EXPECT_EQ(message_.OwnerName(), u"");
  EXPECT_EQ(message_.Priority(), 0);
  EXPECT_FALSE(message_.Auto());
  EXPECT_TRUE(message_.Data().Is<automation::Empty>());
  const std::u16string unset(38, u'\0');
  EXPECT_EQ(message_.OwnerGUID(), unset);
  EXPECT_EQ(message_.ClientGUID(), unset);
  EXPECT_EQ(message_.NextMsgGUID(), unset);
  EXPECT_EQ(message_.HeadGUID(), unset);
  EXPECT_EQ(message_.NextMessage(), nullptr);
  for (std::size_t i = 76; i < 1024; ++i) ASSERT_EQ(raw_->at(i), 0) << "byte " << i;
  EXPECT_TRUE(errors_->calls().empty());
}

TEST_F(MessageLayout, EveryFieldLandsAtItsOffset) {
  const std::u16string owner = NewIdentifier(), client = NewIdentifier(), next = NewIdentifier(),
                       head = NewIdentifier();
  message_.Name(u"Keep Alive");
  message_.Priority(-5);
  message_.Auto(true);
  message_.Data(automation::ByteArray{0, {1, 2, 3}});
  message_.OwnerName(u"Owner");
  message_.OwnerGUID(owner);
  message_.ClientGUID(client);
  message_.NextMsgGUID(next);
  message_.HeadGUID(head);

  EXPECT_EQ(raw_->at(76), 20);
  EXPECT_EQ(raw_->at(77), 0);
  EXPECT_EQ(Text(78, 10), u"Keep Alive");
  EXPECT_EQ(raw_->at(78), 'K');
  EXPECT_EQ(raw_->at(79), 0);
  EXPECT_EQ(raw_->at(178), 0xFB);  // -5, little-endian two's complement
  EXPECT_EQ(raw_->at(179), 0xFF);
  EXPECT_EQ(raw_->at(180), 0xFF);  // True is -1
  EXPECT_EQ(raw_->at(181), 0xFF);
  EXPECT_EQ(raw_->at(182), 3);
  EXPECT_EQ(raw_->at(183), 0);
  EXPECT_EQ(raw_->at(184), 1);
  EXPECT_EQ(raw_->at(186), 3);
  EXPECT_EQ(raw_->at(440), 10);
  EXPECT_EQ(Text(442, 5), u"Owner");
  EXPECT_EQ(Text(542, 38), owner);
  EXPECT_EQ(Text(618, 38), client);
  EXPECT_EQ(Text(694, 38), next);
  EXPECT_EQ(Text(770, 38), head);
  for (std::size_t i = 846; i < 1024; ++i) ASSERT_EQ(raw_->at(i), 0) << "unused byte " << i;

  EXPECT_EQ(message_.Name(), u"Keep Alive");
  EXPECT_EQ(message_.Priority(), -5);
  EXPECT_TRUE(message_.Auto());
  EXPECT_EQ(message_.OwnerName(), u"Owner");
  EXPECT_EQ(message_.HeadGUID(), head);
}

TEST_F(MessageLayout, ShorterNameLeavesTheOlderTailBehindButReadsBackExactly) {
  message_.Name(u"Keep Alive");
  message_.Name(u"OK");
  EXPECT_EQ(raw_->at(76), 4);
  EXPECT_EQ(Text(78, 2), u"OK");
  EXPECT_EQ(Text(82, 8), u"ep Alive");
  EXPECT_EQ(message_.Name(), u"OK");

  message_.Name(u"");
  EXPECT_EQ(raw_->at(76), 0);
  EXPECT_EQ(Text(78, 2), u"OK");  // the area is left as it was
  EXPECT_EQ(message_.Name(), u"");
}

TEST_F(MessageLayout, FiftyCharacterNameFillsTheAreaAndTheFiftyFirstIsRefused) {
  message_.Priority(0x1234);
  const std::u16string fifty(50, u'x');
  message_.Name(fifty);
  EXPECT_EQ(raw_->at(76), 100);
  EXPECT_EQ(message_.Name(), fifty);
  EXPECT_EQ(message_.Priority(), 0x1234);

  const auto before = raw_->Snapshot();
  EXPECT_EQ(RaisedNumber([&] { message_.Name(std::u16string(51, u'y')); }), RuntimeError::kInvalidPropertyValue);
  EXPECT_EQ(RaisedNumber([&] { message_.OwnerName(std::u16string(51, u'y')); }), RuntimeError::kInvalidPropertyValue);
  EXPECT_EQ(RaisedNumber([&] { message_.Name(std::u16string(20000, u'y')); }), RuntimeError::kOverflow);
  EXPECT_EQ(raw_->Snapshot(), before);
}

TEST_F(MessageLayout, IdentifierLetsRefuseShortValuesAndCutLongOnes) {
  const auto before = raw_->Snapshot();
  EXPECT_EQ(RaisedNumber([&] { message_.NextMsgGUID(std::u16string(37, u'A')); }), RuntimeError::kBadIdentifierLength);
  EXPECT_EQ(RaisedNumber([&] { message_.OwnerGUID(u""); }), RuntimeError::kBadIdentifierLength);
  EXPECT_EQ(raw_->Snapshot(), before);

  const std::u16string id = NewIdentifier();
  message_.HeadGUID(id + u"Z");
  EXPECT_EQ(message_.HeadGUID(), id);
  EXPECT_EQ(raw_->at(770 + 76), 0);  // nothing spilled into the unused area
}

// 38 characters are not enough: a link that is no identifier is never
// written, so the engine never has to follow it.
TEST_F(MessageLayout, IdentifierLetsRefuseTextNotOfTheRegistryFormWith123) {
  const std::u16string id = NewIdentifier();
  std::u16string braces = id;
  braces.front() = u'(';
  const auto before = raw_->Snapshot();
  EXPECT_EQ(RaisedNumber([&] { message_.NextMsgGUID(u"{0000HALF-WRIT-TEN0-0000-000000000000}"); }),
            SystemError::kInvalidName);
  EXPECT_EQ(RaisedNumber([&] { message_.HeadGUID(std::u16string(38, u'\0')); }), SystemError::kInvalidName);
  EXPECT_EQ(RaisedNumber([&] { message_.OwnerGUID(braces); }), SystemError::kInvalidName);
  // The cut comes first: what is left of a long value is checked like any other.
  EXPECT_EQ(RaisedNumber([&] { message_.ClientGUID(braces + u"}"); }), SystemError::kInvalidName);
  EXPECT_EQ(raw_->Snapshot(), before);

  const std::u16string lower = u"{0f8fad5b-d9cb-469f-a165-70867728950e}";
  message_.OwnerGUID(lower);
  EXPECT_EQ(message_.OwnerGUID(), lower);  // kept in the case it came in
}

TEST_F(MessageLayout, DataRoundTripsAndRefusalsLeaveTheFieldAsItWas) {
  message_.Data(automation::ByteArray{0, {1, 2, 3}});
  EXPECT_EQ(message_.Data(), automation::Variant(automation::ByteArray{0, {1, 2, 3}}));

  // Numbers in a variant array convert; the count is written last.
  message_.Data(automation::VariantArray{0, {std::int16_t{7}, 255.0, std::u16string(u" 12 ")}});
  EXPECT_EQ(message_.Data(), automation::Variant(automation::ByteArray{0, {7, 255, 12}}));

  const auto before = raw_->Snapshot();
  EXPECT_EQ(RaisedNumber([&] {
              message_.Data(automation::VariantArray{0, {std::int16_t{1}, std::int16_t{300}}});
            }),
            RuntimeError::kOverflow);
  EXPECT_EQ(RaisedNumber([&] {
              message_.Data(automation::VariantArray{0, {std::u16string(u"x")}});
            }),
            RuntimeError::kTypeMismatch);
  EXPECT_EQ(RaisedNumber([&] { message_.Data(std::u16string(u"not an array")); }), RuntimeError::kTypeMismatch);
  EXPECT_EQ(RaisedNumber([&] { message_.Data(std::int32_t{5}); }), RuntimeError::kTypeMismatch);
  EXPECT_EQ(RaisedNumber([&] {
              message_.Data(automation::ByteArray{0, std::vector<std::uint8_t>(257, 9)});
            }),
            RuntimeError::kInvalidPropertyValue);
  EXPECT_EQ(RaisedNumber([&] { message_.Data(automation::ByteArray{1, {1, 2}}); }), RuntimeError::kSubscriptOutOfRange);
  EXPECT_EQ(raw_->Snapshot(), before);

  message_.Data(automation::ByteArray{0, std::vector<std::uint8_t>(256, 0xAB)});
  EXPECT_EQ(raw_->at(182), 0);
  EXPECT_EQ(raw_->at(183), 1);
  EXPECT_EQ(raw_->at(439), 0xAB);
  EXPECT_EQ(raw_->at(440), 0);  // OwnerName count untouched

  message_.Data(automation::Empty{});
  EXPECT_EQ(raw_->at(182), 0);
  EXPECT_EQ(raw_->at(184), 0xAB);  // old bytes stay, the count says empty
  EXPECT_TRUE(message_.Data().Is<automation::Empty>());
}

TEST_F(MessageLayout, CountsWrittenByAnotherProcessNeverReadPastTheirArea) {
  message_.OwnerName(u"owner");
  raw_->set16(76, 500);  // far beyond the 100-byte text area
  for (std::size_t i = 0; i < 100; ++i) raw_->set(78 + i, i % 2 == 0 ? 'n' : 0);
  EXPECT_EQ(message_.Name(), std::u16string(50, u'n'));

  raw_->set16(76, 5);  // odd: the incomplete last byte is dropped
  EXPECT_EQ(message_.Name(), u"nn");
  raw_->set16(76, -4);
  EXPECT_EQ(message_.Name(), u"");

  raw_->set16(182, 1000);
  const automation::Variant data = message_.Data();
  ASSERT_TRUE(data.Is<automation::ByteArray>());
  EXPECT_EQ(data.As<automation::ByteArray>().bytes.size(), 256u);
  raw_->set16(182, -1);
  EXPECT_TRUE(message_.Data().Is<automation::Empty>());
  EXPECT_EQ(message_.OwnerName(), u"owner");
}

TEST(BlockPrimitives, RefuseAnyCopyThatWouldLeaveTheBlock) {
  std::byte block[kBlockBytes] = {};
  const std::u16string id(38, u'A');
  EXPECT_EQ(RaisedNumber([&] { PutViewString(block, 1000, id, 76); }), RuntimeError::kSubscriptOutOfRange);
  EXPECT_EQ(RaisedNumber([&] { PutViewString(block, 0xFFFFFFF0u, id, 76); }), RuntimeError::kSubscriptOutOfRange);
  EXPECT_EQ(RaisedNumber([&] { (void)GetViewString(block, 1023, 2); }), RuntimeError::kSubscriptOutOfRange);
  EXPECT_EQ(RaisedNumber([&] { PutView16(block, 1023, 1); }), RuntimeError::kSubscriptOutOfRange);
  EXPECT_EQ(RaisedNumber([&] { (void)GetViewString(block, 0, -2); }), RuntimeError::kInvalidProcedureCall);
  // More bytes than the value holds would copy undefined memory.
  EXPECT_EQ(RaisedNumber([&] { PutViewString(block, 0, u"short", 76); }), RuntimeError::kInvalidProcedureCall);
  for (const std::byte b : block) ASSERT_EQ(b, std::byte{0});

  PutViewString(block, 1024 - 76, id, 76);  // the last field that fits
  EXPECT_EQ(GetViewString(block, 1024 - 76, 76), id);
}

TEST(BlockLifetime, ClosingTheLastHandleDestroysTheBlockAndRecreateIsZeroed) {
  const std::u16string guid = NewIdentifier();
  {
    clsMessage message;
    ASSERT_EQ(message.Create(guid), 0);
    message.Name(u"gone soon");
  }
  EXPECT_FALSE(testing::BlockExists(guid));
  clsMessage again;
  ASSERT_EQ(again.Create(guid), 0);
  RawBlock raw(guid);
  for (std::size_t i = 76; i < 1024; ++i) ASSERT_EQ(raw.at(i), 0) << "byte " << i;
}

}  // namespace
}  // namespace dovel::store
