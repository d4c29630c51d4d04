#include "platform/automation/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "platform/automation/dispatch.h"

namespace dovel::platform::automation {
namespace {

struct Parsed {
  std::u16string text;
  double value;
};

class ParseNumberAccepts : public ::testing::TestWithParam<Parsed> {};

TEST_P(ParseNumberAccepts, TheGrammar) {
  double value = -999;
  ASSERT_EQ(ParseNumber(GetParam().text, value), std::error_code());
  EXPECT_DOUBLE_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Numbers, ParseNumberAccepts,
                         ::testing::Values(Parsed{u"0", 0}, Parsed{u"42", 42}, Parsed{u"  42\t", 42},
                                           Parsed{u"\t -7 ", -7}, Parsed{u"+3", 3}, Parsed{u"1.5", 1.5},
                                           Parsed{u".5", 0.5}, Parsed{u"5.", 5}, Parsed{u"-0.25", -0.25},
                                           Parsed{u"1e3", 1000}, Parsed{u"2.5E-1", 0.25}, Parsed{u"1e+2", 100},
                                           Parsed{u"007", 7}));

class ParseNumberRejects : public ::testing::TestWithParam<std::u16string> {};

TEST_P(ParseNumberRejects, WithTypeMismatchAndValueUntouched) {
  double value = 123;
  EXPECT_EQ(ParseNumber(GetParam(), value), RuntimeError::kTypeMismatch);
  EXPECT_EQ(value, 123);
}

INSTANTIATE_TEST_SUITE_P(Malformed, ParseNumberRejects,
                         ::testing::Values(u"", u" ", u"\t", u"1,5", u"0x10", u"inf", u"-inf", u"nan", u"12abc", u"+",
                                           u"-", u".", u"1e", u"1e+", u"e5", u"1 2", u"- 1", u"1..2", u"1.2.3",
                                           u"\u0661"));

TEST(ParseNumber, ValueTooLargeForADoubleIsOverflow) {
  double value = 0;
  EXPECT_EQ(ParseNumber(u"1e999", value), RuntimeError::kOverflow);
  EXPECT_EQ(ParseNumber(u"-" + std::u16string(400, u'9'), value), RuntimeError::kOverflow);
  EXPECT_EQ(ParseNumber(u"0.001e999", value), RuntimeError::kOverflow);
}

// Too small for a double is zero, however it is written: with a negative
// exponent, or as a fraction with hundreds of zeros and no exponent at all.
TEST(ParseNumber, ValueTooSmallForADoubleIsZero) {
  for (const std::u16string& tiny : {std::u16string(u"1e-999"), u"." + std::u16string(400, u'0') + u"6512",
                                     u"-0." + std::u16string(400, u'0') + u"1", std::u16string(u"1000e-999"),
                                     u"0." + std::u16string(400, u'0') + u"1e+5"}) {
    double value = -1;
    EXPECT_EQ(ParseNumber(tiny, value), std::error_code()) << tiny.size();
    EXPECT_EQ(value, 0);
  }
  double value = 0;
  // Hundreds of zeros, but within range once the exponent is counted.
  EXPECT_EQ(ParseNumber(u"0." + std::u16string(400, u'0') + u"25e400", value), std::error_code());
  EXPECT_DOUBLE_EQ(value, 0.25);
}

TEST(RoundHalfToEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfToEven(0.5), 0);
  EXPECT_EQ(RoundHalfToEven(1.5), 2);
  EXPECT_EQ(RoundHalfToEven(2.5), 2);
  EXPECT_EQ(RoundHalfToEven(3.5), 4);
  EXPECT_EQ(RoundHalfToEven(-0.5), 0);
  EXPECT_EQ(RoundHalfToEven(-1.5), -2);
  EXPECT_EQ(RoundHalfToEven(-2.5), -2);
  EXPECT_EQ(RoundHalfToEven(2.4999), 2);
  EXPECT_EQ(RoundHalfToEven(2.5001), 3);
  EXPECT_EQ(RoundHalfToEven(-2.5001), -3);
  EXPECT_EQ(RoundHalfToEven(7), 7);
}

struct Coercion {
  const char* name;
  Variant from;
  std::error_code int16_error;
  std::int16_t int16_value;
  std::error_code byte_error;
  std::uint8_t byte_value;
};

std::string CoercionName(const ::testing::TestParamInfo<Coercion>& info) { return info.param.name; }

class IntegerCoercion : public ::testing::TestWithParam<Coercion> {};

TEST_P(IntegerCoercion, ToInt16) {
  std::int16_t value = 1111;
  ASSERT_EQ(ToInt16(GetParam().from, value), GetParam().int16_error);
  EXPECT_EQ(value, !GetParam().int16_error ? GetParam().int16_value : 1111);
}

TEST_P(IntegerCoercion, ToByte) {
  std::uint8_t value = 77;
  ASSERT_EQ(ToByte(GetParam().from, value), GetParam().byte_error);
  EXPECT_EQ(value, !GetParam().byte_error ? GetParam().byte_value : 77);
}

std::int16_t g_referenced = 200;

// Columns: the variant, then ToInt16's error and value, then ToByte's.
INSTANTIATE_TEST_SUITE_P(
    Values, IntegerCoercion,
    ::testing::Values(
        Coercion{"Empty", Variant(), {}, 0, {}, 0},
        Coercion{"Int16", Variant(std::int16_t{-5}), {}, -5, RuntimeError::kOverflow, 0},
        Coercion{"Int16Ref", Variant(Int16Ref{&g_referenced}), {}, 200, {}, 200},
        Coercion{"NullInt16Ref", Variant(Int16Ref{}), RuntimeError::kTypeMismatch, 0, RuntimeError::kTypeMismatch, 0},
        Coercion{"Int32_255", Variant(std::int32_t{255}), {}, 255, {}, 255},
        Coercion{"Int32_256", Variant(std::int32_t{256}), {}, 256, RuntimeError::kOverflow, 0},
        Coercion{"Int32_Minus1", Variant(std::int32_t{-1}), {}, -1, RuntimeError::kOverflow, 0},
        Coercion{"Int32_32767", Variant(std::int32_t{32767}), {}, 32767, RuntimeError::kOverflow, 0},
        Coercion{"Int32_32768", Variant(std::int32_t{32768}), RuntimeError::kOverflow, 0, RuntimeError::kOverflow, 0},
        Coercion{"Int32_Minus32769", Variant(std::int32_t{-32769}), RuntimeError::kOverflow, 0, RuntimeError::kOverflow,
                 0},
        Coercion{"Double_32767_5_RoundsUpOut", Variant(32767.5), RuntimeError::kOverflow, 0, RuntimeError::kOverflow,
                 0},
        Coercion{"Double_32766_5_RoundsDownIn", Variant(32766.5), {}, 32766, RuntimeError::kOverflow, 0},
        Coercion{"Double_Minus32768_5_RoundsToEvenIn", Variant(-32768.5), {}, -32768, RuntimeError::kOverflow, 0},
        Coercion{"Double_Minus32769_5_Out", Variant(-32769.5), RuntimeError::kOverflow, 0, RuntimeError::kOverflow, 0},
        Coercion{"Double_255_4", Variant(255.4), {}, 255, {}, 255},
        Coercion{"Double_255_5_RoundsToEvenOut", Variant(255.5), {}, 256, RuntimeError::kOverflow, 0},
        Coercion{"Double_Minus0_5_RoundsToZero", Variant(-0.5), {}, 0, {}, 0},
        Coercion{"Double_Infinity", Variant(std::numeric_limits<double>::infinity()), RuntimeError::kOverflow, 0,
                 RuntimeError::kOverflow, 0},
        Coercion{"Double_NaN", Variant(std::numeric_limits<double>::quiet_NaN()), RuntimeError::kOverflow, 0,
                 RuntimeError::kOverflow, 0},
        Coercion{"Date", Variant(Date{2.5}), {}, 2, {}, 2},
        Coercion{"True", Variant(true), {}, -1, RuntimeError::kOverflow, 0},
        Coercion{"False", Variant(false), {}, 0, {}, 0}, Coercion{"PaddedText", Variant(u"  250  "), {}, 250, {}, 250},
        Coercion{"TextWithExponent", Variant(u"2.5e2"), {}, 250, {}, 250},
        Coercion{"TextOutOfRange", Variant(u"70000"), RuntimeError::kOverflow, 0, RuntimeError::kOverflow, 0},
        Coercion{"NonNumericText", Variant(u"12abc"), RuntimeError::kTypeMismatch, 0, RuntimeError::kTypeMismatch, 0},
        Coercion{"EmptyText", Variant(u""), RuntimeError::kTypeMismatch, 0, RuntimeError::kTypeMismatch, 0},
        Coercion{"Missing", Variant(Missing{}), RuntimeError::kTypeMismatch, 0, RuntimeError::kTypeMismatch, 0},
        Coercion{"ByteArray", Variant(ByteArray{0, {1}}), RuntimeError::kTypeMismatch, 0, RuntimeError::kTypeMismatch,
                 0},
        Coercion{"VariantArray", Variant(VariantArray{}), RuntimeError::kTypeMismatch, 0, RuntimeError::kTypeMismatch,
                 0},
        Coercion{"Object", Variant(ObjectRef{}), RuntimeError::kTypeMismatch, 0, RuntimeError::kTypeMismatch, 0}),
    CoercionName);

}  // namespace
}  // namespace dovel::platform::automation
