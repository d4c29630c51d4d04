#include "platform/automation/text.h"

#include <gtest/gtest.h>

#include <string>

namespace dovel::platform::automation {
namespace {

const std::u16string kReplacement = u"\uFFFD";

TEST(AutomationText, RoundTripsEveryEncodingLength) {
  // 1, 2, 3 and 4 UTF-8 bytes; the last is a surrogate pair in UTF-16.
  const std::u16string text = u"A\u00E9\u20AC\U0001F600z";
  const std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(FromUtf8(utf8), text);
  EXPECT_EQ(ToUtf8(u""), "");
  EXPECT_EQ(FromUtf8(""), u"");
}

TEST(AutomationText, BoundaryCodePointsRoundTrip) {
  for (const char32_t cp : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    std::u16string text;
    if (cp < 0x10000) {
      text += static_cast<char16_t>(cp);
    } else {
      text += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text) << std::hex << static_cast<unsigned>(cp);
  }
}

TEST(AutomationText, EmbeddedNulSurvives) {
  const std::u16string text(u"a\0b", 3);
  EXPECT_EQ(ToUtf8(text), std::string("a\0b", 3));
  EXPECT_EQ(FromUtf8(std::string("a\0b", 3)), text);
}

TEST(AutomationText, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(FromUtf8(ToUtf8(std::u16string{u'x', char16_t(0xD800)})), u"x" + kReplacement);
  EXPECT_EQ(FromUtf8(ToUtf8(std::u16string{char16_t(0xDC00), u'x'})), kReplacement + u"x");
  // A high surrogate followed by a non-surrogate: both are kept apart.
  EXPECT_EQ(FromUtf8(ToUtf8(std::u16string{char16_t(0xD83D), u'y'})), kReplacement + u"y");
  // Two high surrogates: neither pairs.
  EXPECT_EQ(FromUtf8(ToUtf8(std::u16string{char16_t(0xD83D), char16_t(0xD83D)})), kReplacement + kReplacement);
}

struct BadUtf8 {
  const char* name;
  std::string bytes;
  std::u16string expected;
};

class InvalidUtf8 : public ::testing::TestWithParam<BadUtf8> {};

TEST_P(InvalidUtf8, BecomesReplacementCharactersWithoutSwallowingNeighbours) {
  EXPECT_EQ(FromUtf8(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Sequences, InvalidUtf8,
                         ::testing::Values(BadUtf8{"LoneContinuation",
                                                   "a\x80"
                                                   "b",
                                                   u"a\uFFFDb"},
                                           BadUtf8{"InvalidLeadByte", "\xFF", u"\uFFFD"},
                                           BadUtf8{"TruncatedAtEnd", "a\xE2\x82", u"a\uFFFD\uFFFD"},
                                           BadUtf8{"TruncatedBeforeAscii", "\xE2\x82z", u"\uFFFD\uFFFDz"},
                                           BadUtf8{"OverlongSlash", "\xC0\xAF", u"\uFFFD\uFFFD"},
                                           BadUtf8{"OverlongThreeByte", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
                                           BadUtf8{"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                                           BadUtf8{"BeyondUnicode", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}),
                         [](const ::testing::TestParamInfo<BadUtf8>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(AutomationText, AsciiNamesAreSevenBitWithoutNul) {
  std::string ascii = "untouched";
  EXPECT_TRUE(ToAsciiName(u"Global\\Queue_1", ascii));
  EXPECT_EQ(ascii, "Global\\Queue_1");
  EXPECT_TRUE(ToAsciiName(u"\x7F", ascii));
  EXPECT_EQ(ascii, "\x7F");

  ascii = "untouched";
  EXPECT_FALSE(ToAsciiName(std::u16string(u"ab\0c", 4), ascii));
  EXPECT_FALSE(ToAsciiName(u"caf\u00E9", ascii));
  EXPECT_FALSE(ToAsciiName(u"\x80", ascii));
  EXPECT_FALSE(ToAsciiName(u"\U0001F600", ascii));
  EXPECT_EQ(ascii, "untouched");
}

}  // namespace
}  // namespace dovel::platform::automation
