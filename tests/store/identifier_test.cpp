// The identifier value: the one place where text becomes a block's name or
// a link, and what it refuses there.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/core/error_codes.h"
#include "store/identifier.h"
#include "store_test_support.h"

namespace dovel::store {
namespace {

using testing::RaisedNumber;
using namespace std::string_view_literals;

constexpr std::u16string_view kUpper = u"{0F8FAD5B-D9CB-469F-A165-70867728950E}";
constexpr std::u16string_view kLower = u"{0f8fad5b-d9cb-469f-a165-70867728950e}";

TEST(Identifier, TakesTheRegistryFormInEitherCaseAndKeepsItAsGiven) {
  for (const std::u16string_view text :
       {kUpper, kLower, std::u16string_view(u"{0f8FAD5b-D9cb-469F-a165-70867728950E}")}) {
    Identifier id;
    ASSERT_EQ(Identifier::Parse(text, id), std::error_code()) << std::string(text.begin(), text.end());
    EXPECT_EQ(id.view(), text);
    EXPECT_EQ(id.BlockName(), std::string(text.begin(), text.end()));
  }
  // The case is part of the block's name: these name two blocks.
  EXPECT_NE(Identifier::From(kUpper), Identifier::From(kLower));
  EXPECT_EQ(Identifier::From(kUpper), Identifier::From(std::u16string(kUpper)));
}

TEST(Identifier, AnyOtherLengthIsRefusedWith160WhateverTheText) {
  const std::u16string upper(kUpper);
  for (const std::u16string& text :
       {std::u16string(), upper.substr(0, 37), upper + u"}", std::u16string(39, u'x'), std::u16string(1, u'{')}) {
    Identifier id = Identifier::From(kLower);
    EXPECT_EQ(Identifier::Parse(text, id), RuntimeError::kBadIdentifierLength) << text.size();
    EXPECT_EQ(id, Identifier::From(kLower)) << "a refusal changed the value";
  }
}

// Every position of the form refuses what does not belong there, with the
// number the block layer gives for a name it cannot use.
TEST(Identifier, TheRightLengthNotOfTheFormIsRefusedWith123) {
  const std::u16string good(kUpper);
  for (std::size_t i = 0; i < good.size(); ++i) {
    const bool punctuation = i == 0 || i == 9 || i == 14 || i == 19 || i == 24 || i == 37;
    const std::u16string_view wrong_here = punctuation ? u"0A-{}"sv : u"Gg-{} \0\u00C9\uFF10"sv;
    for (const char16_t unit : wrong_here) {
      if (unit == good[i]) continue;
      std::u16string text = good;
      text[i] = unit;
      Identifier id = Identifier::From(kLower);
      EXPECT_EQ(Identifier::Parse(text, id), SystemError::kInvalidName)
          << "position " << i << ", unit " << static_cast<int>(unit);
      EXPECT_EQ(id, Identifier::From(kLower));
    }
  }
  // A zero-filled link, as a message block never written holds.
  Identifier id;
  EXPECT_EQ(Identifier::Parse(std::u16string(38, u'\0'), id), SystemError::kInvalidName);
}

TEST(Identifier, FromRaisesTheRefusalInItsOwnSpace) {
  EXPECT_EQ(RaisedNumber([] { Identifier::From(u"{short}"); }), RuntimeError::kBadIdentifierLength);
  EXPECT_EQ(RaisedNumber([] { Identifier::From(u"[0F8FAD5B-D9CB-469F-A165-70867728950E]"); }),
            SystemError::kInvalidName);
  // Same numbers, other spaces: not to be mistaken for these.
  EXPECT_NE(RaisedNumber([] { Identifier::From(u"{short}"); }), SystemStatus(160));
  EXPECT_NE(RaisedNumber([] { Identifier::From(u"[0F8FAD5B-D9CB-469F-A165-70867728950E]"); }), RuntimeStatus(123));
}

TEST(Identifier, FromAGuidIsItsRegistryForm) {
  const platform::Guid guid{0x0F8FAD5B, 0xD9CB, 0x469F, {0xA1, 0x65, 0x70, 0x86, 0x77, 0x28, 0x95, 0x0E}};
  EXPECT_EQ(Identifier::From(guid).view(), kUpper);
}

TEST(Identifier, TheDefaultIsAnUnwrittenLinkAndEqualsNoIdentifier) {
  const Identifier none;
  EXPECT_EQ(none.view(), std::u16string(38, u'\0'));
  EXPECT_NE(none, Identifier::From(kUpper));
  EXPECT_TRUE(none == std::u16string(38, u'\0'));
}

}  // namespace
}  // namespace dovel::store
