#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "framework_text.h"
#include "tarn/number_text.h"

namespace {

using tarn_test::Units;

TEST(NumberText, HexIsEightLowercaseDigitsWithLeadingZeros) {
    EXPECT_EQ(Units(tarn::FormatHex8(0)), u"00000000");
    EXPECT_EQ(Units(tarn::FormatHex8(1)), u"00000001");
    EXPECT_EQ(Units(tarn::FormatHex8(0x8000004Au)), u"8000004a");
    EXPECT_EQ(Units(tarn::FormatHex8(0xABCDEFu)), u"00abcdef");
    EXPECT_EQ(Units(tarn::FormatHex8(0xFFFFFFFFu)), u"ffffffff");
}

TEST(NumberText, UnsignedDecimalHasNoPadding) {
    EXPECT_EQ(Units(tarn::FormatUnsignedDecimal(0)), u"0");
    EXPECT_EQ(Units(tarn::FormatUnsignedDecimal(126)), u"126");
    EXPECT_EQ(Units(tarn::FormatUnsignedDecimal(0xFFFFFFFFu)), u"4294967295");
}

TEST(NumberText, SignedDecimalHasAMinusSignOnlyWhenNegative) {
    EXPECT_EQ(Units(tarn::FormatSignedDecimal(0)), u"0");
    EXPECT_EQ(Units(tarn::FormatSignedDecimal(21)), u"21");
    EXPECT_EQ(Units(tarn::FormatSignedDecimal(-1)), u"-1");
    EXPECT_EQ(Units(tarn::FormatSignedDecimal(std::numeric_limits<std::int32_t>::min())),
              u"-2147483648");
    EXPECT_EQ(Units(tarn::FormatSignedDecimal(std::numeric_limits<std::int32_t>::max())),
              u"2147483647");
}

}  // namespace
