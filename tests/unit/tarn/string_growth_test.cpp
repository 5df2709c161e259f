#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "counting_allocator.h"
#include "framework_text.h"
#include "tarn/string.h"

namespace {

using tarn_test::CountingAllocator;
using tarn_test::Units;

// Builds the string over memory full of a pattern, so that a buffer the
// constructor forgets to clear shows up.
template <class... Args>
tarn::string_t* ConstructOverGarbage(void* storage, Args... args) {
    std::memset(storage, 0xCD, sizeof(tarn::string_t));
    return new (storage) tarn::string_t(args...);
}

void ExpectFreshEmpty(const tarn::string_t& text) {
    EXPECT_TRUE(text.is_inline());
    EXPECT_EQ(text.size(), 0u);
    EXPECT_EQ(text.capacity(), 7u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(text.data()[i], u'\0') << "inline unit " << i;
}

TEST(StringStorage, EmptyStringIsInlineWithCapacity7AndAZeroedBuffer) {
    alignas(tarn::string_t) unsigned char storage[sizeof(tarn::string_t)];
    tarn::string_t* text = ConstructOverGarbage(storage);
    ExpectFreshEmpty(*text);
    EXPECT_EQ(text->allocator(), nullptr);
    text->~basic_string_t();
}

TEST(StringStorage, EmptyStringWithAllocatorObjectAllocatesNothing) {
    CountingAllocator allocator;
    alignas(tarn::string_t) unsigned char storage[sizeof(tarn::string_t)];
    tarn::string_t* text = ConstructOverGarbage(storage, &allocator);
    ExpectFreshEmpty(*text);
    EXPECT_EQ(text->allocator(), &allocator);
    EXPECT_EQ(allocator.request_count(), 0u);
    text->~basic_string_t();
}

TEST(StringStorage, SevenUnitsStayInline) {
    CountingAllocator allocator;
    tarn::string_t text(&allocator);
    text.append(u"1234567");
    EXPECT_TRUE(text.is_inline());
    EXPECT_EQ(text.capacity(), 7u);
    EXPECT_EQ(Units(text), u"1234567");
    EXPECT_EQ(text.data()[7], u'\0');
    EXPECT_EQ(allocator.request_count(), 0u);
}

TEST(StringStorage, EighthUnitMovesTheTextToA30ByteBlockOfCapacity14) {
    CountingAllocator allocator;
    tarn::string_t text(&allocator);
    text.append(u"1234567");
    text.append(u"8");
    EXPECT_FALSE(text.is_inline());
    EXPECT_TRUE(allocator.owns(text.data()));
    EXPECT_EQ(text.capacity(), 14u);
    EXPECT_EQ(allocator.requests(), std::vector<std::size_t>{30});
    EXPECT_EQ(Units(text), u"12345678");
    EXPECT_EQ(text.data()[8], u'\0');
}

TEST(StringStorage, NeedWinsOverDoubling) {
    CountingAllocator allocator;
    tarn::string_t text(&allocator);
    text.append(u"abcdefghijklmnopqrst");
    EXPECT_EQ(text.capacity(), 20u);
    EXPECT_EQ(allocator.requests(), std::vector<std::size_t>{42});
    EXPECT_EQ(Units(text), u"abcdefghijklmnopqrst");
}

TEST(StringStorage, DoublingWinsOverASmallNeedAndTheOldBlockIsReleased) {
    CountingAllocator allocator;
    tarn::string_t text(&allocator);
    text.append(u"12345678");
    text.append(u"9abcdef");  // 15 units need more than 14
    EXPECT_EQ(text.capacity(), 28u);
    EXPECT_EQ(allocator.requests(), (std::vector<std::size_t>{30, 58}));
    EXPECT_EQ(allocator.frees(), 1u);
    EXPECT_EQ(allocator.live_blocks(), 1u);
    EXPECT_EQ(Units(text), u"123456789abcdef");
}

TEST(StringStorage, ReserveExtraWithinCapacityDoesNothing) {
    CountingAllocator allocator;
    tarn::string_t text(u"0123456789", &allocator);
    const char16_t* block = text.data();
    text.reserve_extra(4);
    text.reserve_extra(0);
    EXPECT_EQ(text.data(), block);
    EXPECT_EQ(text.capacity(), 14u);
    EXPECT_EQ(allocator.request_count(), 1u);
}

TEST(StringStorage, ReserveExtraKeepsTextAndSize) {
    CountingAllocator allocator;
    tarn::string_t text(u"abc", &allocator);
    text.reserve_extra(100);
    EXPECT_EQ(text.capacity(), 103u);
    EXPECT_EQ(allocator.requests(), std::vector<std::size_t>{208});
    EXPECT_EQ(Units(text), u"abc");
    EXPECT_EQ(text.data()[3], u'\0');
}

// Growth cost as a count: doubling keeps the number of blocks logarithmic.
TEST(StringStorage, AMillionSingleUnitAppendsTakeEighteenBlocks) {
    constexpr std::uint32_t kUnits = 1000000;
    CountingAllocator allocator;
    allocator.set_request_limit(20);  // a growth rule without doubling fails fast here
    {
        tarn::string_t text(&allocator);
        try {
            for (std::uint32_t i = 0; i < kUnits; ++i) {
                char16_t unit = static_cast<char16_t>(u'a' + i % 26);
                text.append(&unit, 1);
            }
        } catch (const std::bad_alloc&) {
            FAIL() << "more than 20 allocations, the text had " << text.size() << " units";
        }
        ASSERT_EQ(text.size(), kUnits);
        std::vector<std::size_t> expected;
        for (std::size_t capacity = 14; capacity / 2 < kUnits; capacity *= 2) {
            expected.push_back((capacity + 1) * 2);
        }
        EXPECT_EQ(allocator.requests(), expected);
        EXPECT_EQ(text.capacity(), 1835008u);
        EXPECT_EQ(allocator.live_blocks(), 1u);
        std::uint32_t wrong = 0;
        for (std::uint32_t i = 0; i < kUnits; ++i) {
            if (text[i] != static_cast<char16_t>(u'a' + i % 26)) ++wrong;
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(text.data()[kUnits], u'\0');
    }
    EXPECT_EQ(allocator.live_blocks(), 0u);
    EXPECT_EQ(allocator.unknown_frees(), 0u);
}

// Size limit: the text must stay below 0x7FFFFFFF units. The table holds
// texts that live inline, empty, and in a heap block.
class StringLimit : public testing::TestWithParam<const char16_t*> {};

TEST_P(StringLimit, ReserveExtraReachingTheLimitThrowsLengthErrorAndChangesNothing) {
    CountingAllocator allocator;
    tarn::string_t text(GetParam(), &allocator);
    const std::u16string before = Units(text);
    const char16_t* block = text.data();
    const auto capacity = text.capacity();
    const auto requests = allocator.request_count();
    for (std::uint32_t extra : {0x7FFFFFFFu - text.size(), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        try {
            text.reserve_extra(extra);
            ADD_FAILURE() << "no exception for " << extra;
        } catch (const std::length_error& error) {
            EXPECT_STREQ(error.what(), "tarn::basic_string_t::reserve_extra()");
        }
        EXPECT_EQ(Units(text), before);
        EXPECT_EQ(text.data(), block);
        EXPECT_EQ(text.capacity(), capacity);
    }
    EXPECT_EQ(allocator.request_count(), requests);
}

// One unit less is allowed and goes on to ask for (0x7FFFFFFE + 1) * 2 bytes;
// the refusing allocator object stops it there with "bad allocation".
TEST_P(StringLimit, ReserveExtraJustBelowTheLimitAsksForTheBlock) {
    CountingAllocator allocator;
    tarn::string_t text(GetParam(), &allocator);
    const std::u16string before = Units(text);
    const char16_t* block = text.data();
    const auto capacity = text.capacity();
    allocator.set_failing(true);
    const auto requests = allocator.request_count();
    try {
        text.reserve_extra(0x7FFFFFFEu - text.size());
        ADD_FAILURE() << "no exception";
    } catch (const std::bad_alloc& error) {
        EXPECT_STREQ(error.what(), "bad allocation");
    }
    ASSERT_EQ(allocator.request_count(), requests + 1);
    EXPECT_EQ(allocator.requests().back(), std::size_t{0xFFFFFFFEu});
    EXPECT_EQ(Units(text), before);
    EXPECT_EQ(text.data(), block);
    EXPECT_EQ(text.capacity(), capacity);
}

INSTANTIATE_TEST_SUITE_P(String, StringLimit, testing::Values(u"", u"abc", u"0123456789"));

}  // namespace
