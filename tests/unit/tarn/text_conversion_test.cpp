#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <new>
#include <string>
#include <typeinfo>
#include <vector>

#include "counting_allocator.h"
#include "guarded_block.h"
#include "framework_text.h"
#include "tarn/text_conversion.h"

namespace {

using tarn_test::CountingAllocator;
using tarn_test::Units;

TEST(NarrowTextConversion, RunsInTheCLocale) { EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C"); }

TEST(NarrowTextConversion, ClassNameBecomesTheSameLetters) {
    tarn::string_t text = tarn::ToFrameworkString("CheckFailedException");
    EXPECT_EQ(text.size(), 20u);
    EXPECT_EQ(Units(text), u"CheckFailedException");
    EXPECT_EQ(text.data()[20], u'\0');
}

TEST(NarrowTextConversion, ByteE9BecomesUnitE9) {
    EXPECT_EQ(Units(tarn::ToFrameworkString("caf\xE9")), u"caf\u00E9");
}

// In the C locale every byte b is the one unit b (ISO 8859-1).
TEST(NarrowTextConversion, EveryByteBecomesTheUnitOfTheSameValue) {
    std::string bytes;
    std::u16string expected;
    for (int b = 1; b < 256; ++b) {
        bytes += static_cast<char>(b);
        expected += static_cast<char16_t>(b);
    }
    EXPECT_EQ(Units(tarn::ToFrameworkString(bytes)), expected);
    EXPECT_EQ(Units(tarn::ToFrameworkString(bytes.c_str())), expected);
}

TEST(NarrowTextConversion, EmbeddedZeroByteBecomesAZeroUnit) {
    tarn::string_t text = tarn::ToFrameworkString(std::string("a\0b", 3));
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(text[0], u'a');
    EXPECT_EQ(text[1], u'\0');
    EXPECT_EQ(text[2], u'b');
}

TEST(NarrowTextConversion, EmptyTextGivesAnEmptyString) {
    EXPECT_EQ(tarn::ToFrameworkString(std::string()).size(), 0u);
    EXPECT_EQ(tarn::ToFrameworkString("").size(), 0u);
}

TEST(NarrowTextConversion, CoreWritesFromTheStartIndexAndFitsTheTarget) {
    tarn::string_t target(u"abcdef");
    EXPECT_EQ(tarn::ConvertNarrowText("XY", 2, target, 1), tarn::kNoError);
    EXPECT_EQ(Units(target), u"aXY");
    EXPECT_EQ(tarn::ConvertNarrowText("-long tail", 10, target, 3), tarn::kNoError);
    EXPECT_EQ(Units(target), u"aXY-long tail");
}

// A start index past the end pads the target with zero units up to it.
TEST(NarrowTextConversion, CoreStartingPastTheEndPadsWithZeroUnits) {
    tarn::string_t target(u"ab");
    EXPECT_EQ(tarn::ConvertNarrowText("XY", 2, target, 4), tarn::kNoError);
    EXPECT_EQ(Units(target), std::u16string(u"ab\0\0XY", 6));
}

// Under a locale with double-byte characters (code page 932) a lead byte
// and its trail byte are one character; a lead byte without a trail byte, or
// with a byte that cannot trail it, is no text at all.
class DoubleByteLocale : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_CTYPE, ".932"), nullptr); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(DoubleByteLocale, LeadAndTrailByteBecomeOneUnit) {
    tarn::string_t target;
    ASSERT_EQ(tarn::ConvertNarrowText("a\x82\xA0"
                                      "b",
                                      4, target, 0),
              tarn::kNoError);
    EXPECT_EQ(Units(target), u"a\u3042b");
}

TEST_F(DoubleByteLocale, LeadByteAtTheEndIsRefused) {
    tarn::string_t target(u"kept");
    EXPECT_EQ(tarn::ConvertNarrowText("a\x82", 2, target, 0), tarn::kInvalidArgument);
    EXPECT_EQ(Units(target), u"kept");
}

TEST_F(DoubleByteLocale, LeadByteBeforeAByteThatCannotTrailIsRefused) {
    tarn::string_t target(u"kept");
    EXPECT_EQ(tarn::ConvertNarrowText("\x82\x01"
                                      "a",
                                      3, target, 0),
              tarn::kInvalidArgument);
    EXPECT_EQ(Units(target), u"kept");
}

TEST_F(DoubleByteLocale, OnlyTheTextsOwnBytesAreRead) {
    // The lead bytes just before the text must not pair with its bytes.
    const char bytes[] =
        "\x82\x82"
        "ab";
    tarn::string_t target;
    ASSERT_EQ(tarn::ConvertNarrowText(bytes + 2, 2, target, 0), tarn::kNoError);
    EXPECT_EQ(Units(target), u"ab");
}

TEST(WideTextConversion, WstringIsCopiedUnitForUnit) {
    const std::wstring source(L"a\0\xD800z\xDC00\xFFFF", 6);  // unpaired surrogates stay
    tarn::string_t text = tarn::ToFrameworkString(source);
    EXPECT_EQ(Units(text), std::u16string(u"a\0\xD800z\xDC00\xFFFF", 6));
    EXPECT_EQ(text.data()[6], u'\0');
}

TEST(WideTextConversion, U16stringIsCopiedUnitForUnit) {
    const std::u16string source(u"a\0\xD800z\xDC00\xFFFF", 6);
    EXPECT_EQ(Units(tarn::ToFrameworkString(source)), source);
    EXPECT_EQ(tarn::ToFrameworkString(std::u16string()).size(), 0u);
}

TEST(WideTextConversion, CoreWritesFromTheStartIndex) {
    tarn::string_t target(u"abc");
    EXPECT_EQ(tarn::ConvertWideText(L"XYZ", 3, target, 2), tarn::kNoError);
    EXPECT_EQ(Units(target), u"abXYZ");
}

TEST(WideTextConversion, CoreStartingPastTheEndPadsWithZeroUnits) {
    tarn::string_t target(u"ab");
    EXPECT_EQ(tarn::ConvertWideText(L"XY", 2, target, 4), tarn::kNoError);
    EXPECT_EQ(Units(target), std::u16string(u"ab\0\0XY", 6));
}

TEST(WideTextConversion, CoreReadsOnlyTheGivenUnits) {
    // Three units with no terminator, right before a page that faults when touched.
    auto* text = static_cast<wchar_t*>(testing_support::AllocateGuarded(3 * sizeof(wchar_t)));
    ASSERT_NE(text, nullptr);
    text[0] = L'X';
    text[1] = L'Y';
    text[2] = L'Z';
    tarn::string_t target;
    EXPECT_EQ(tarn::ConvertWideText(text, 3, target, 0), tarn::kNoError);
    EXPECT_EQ(Units(target), u"XYZ");
    testing_support::FreeGuarded(text);
}

TEST(WideStringConversion, FrameworkStringIsCopiedUnitForUnit) {
    tarn::string_t with_zero(u"x");
    const char16_t rest[] = {u'\0', 0xD83D, 0xDE00, 0xDC00};
    with_zero.append(rest, 4);
    EXPECT_EQ(tarn::ToWideString(with_zero), std::wstring(L"x\0\xD83D\xDE00\xDC00", 5));
    EXPECT_EQ(tarn::ToWideString(tarn::string_t()), L"");
}

TEST(WideStringConversion, CoreWritesFromTheStartIndex) {
    std::wstring target(L"abc");
    EXPECT_EQ(tarn::ConvertToWideString(tarn::string_t(u"XYZ"), target, 3), tarn::kNoError);
    EXPECT_EQ(target, L"abcXYZ");
    EXPECT_EQ(tarn::ConvertToWideString(tarn::string_t(u"Q"), target, 1), tarn::kNoError);
    EXPECT_EQ(target, L"aQ");
}

TEST(WideStringConversion, CoreStartingPastTheEndPadsWithZeroUnits) {
    std::wstring target(L"ab");
    EXPECT_EQ(tarn::ConvertToWideString(tarn::string_t(u"XY"), target, 4), tarn::kNoError);
    EXPECT_EQ(target, std::wstring(L"ab\0\0XY", 6));
}

// A target whose allocator object refuses every request: the cores report
// "Out of memory" and leave the target as it was.
class RefusedTarget : public testing::Test {
  protected:
    void SetUp() override { allocator_.set_failing(true); }

    void ExpectUnchanged(const tarn::string_t& target, const char16_t* text,
                         const char16_t* block) {
        EXPECT_EQ(Units(target), text);
        EXPECT_EQ(target.data(), block);
        EXPECT_EQ(target.data()[target.size()], u'\0');
    }

    CountingAllocator allocator_;
};

TEST_F(RefusedTarget, NarrowCoreReportsOutOfMemory) {
    tarn::string_t target(u"abc", &allocator_);
    const char16_t* block = target.data();
    EXPECT_EQ(tarn::ConvertNarrowText("0123456789", 10, target, 3), tarn::kOutOfMemory);
    ExpectUnchanged(target, u"abc", block);
    EXPECT_GE(allocator_.request_count(), 1u);
}

TEST_F(RefusedTarget, WideCoreReportsOutOfMemory) {
    tarn::string_t target(u"abc", &allocator_);
    const char16_t* block = target.data();
    EXPECT_EQ(tarn::ConvertWideText(L"0123456789", 10, target, 1), tarn::kOutOfMemory);
    ExpectUnchanged(target, u"abc", block);
    EXPECT_GE(allocator_.request_count(), 1u);
}

TEST_F(RefusedTarget, HeapTargetStaysIntact) {
    allocator_.set_failing(false);
    tarn::string_t target(u"0123456789", &allocator_);
    const char16_t* block = target.data();
    allocator_.set_failing(true);
    EXPECT_EQ(tarn::ConvertNarrowText("a text of twenty one", 20, target, 10), tarn::kOutOfMemory);
    ExpectUnchanged(target, u"0123456789", block);
    EXPECT_TRUE(allocator_.owns(block));
    EXPECT_EQ(allocator_.live_blocks(), 1u);
}

// A framework string stays below 0x7FFFFFFF units; the start index counts.
TEST_F(RefusedTarget, TextReachingTheSizeLimitReportsOutOfMemory) {
    tarn::string_t target(u"abc", &allocator_);
    const char16_t* block = target.data();
    std::vector<std::size_t> starts = {0x7FFFFFFCu, 0x7FFFFFFDu, 0x7FFFFFFFu, 0xFFFFFFFFu};
    if constexpr (sizeof(std::size_t) > 4) {
        starts.push_back(static_cast<std::size_t>(0x100000001ull));  // 3 when cut to 32 bits
    }
    for (std::size_t start : starts) {
        EXPECT_EQ(tarn::ConvertNarrowText("XY", 2, target, start), tarn::kOutOfMemory) << start;
        EXPECT_EQ(tarn::ConvertWideText(L"XY", 2, target, start), tarn::kOutOfMemory) << start;
    }
    ExpectUnchanged(target, u"abc", block);
}

TEST(ConversionFailure, OutOfMemoryThrowsBadAllocation) {
    try {
        tarn::ThrowConversionFailure(tarn::kOutOfMemory);
    } catch (const std::bad_alloc& error) {
        EXPECT_STREQ(error.what(), "bad allocation");
    }
}

TEST(ConversionFailure, AnyOtherFailureThrowsBadCast) {
    for (tarn::ResultCode code :
         {tarn::kInvalidArgument, tarn::kUnexpected, tarn::kUnspecifiedPlatformError}) {
        try {
            tarn::ThrowConversionFailure(code);
        } catch (const std::bad_cast& error) {
            EXPECT_STREQ(error.what(), "bad cast");
        } catch (...) {
            ADD_FAILURE() << "other exception for " << code;
        }
    }
}

}  // namespace
