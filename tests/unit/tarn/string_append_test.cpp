#include <gtest/gtest.h>

#include <vector>

#include "counting_allocator.h"
#include "framework_text.h"
#include "tarn/string.h"

namespace {

using tarn_test::CountingAllocator;
using tarn_test::Units;

TEST(StringConstruction, FromTextCopiesItUpToTheTerminator) {
    tarn::string_t text(u"credui_module");
    EXPECT_EQ(Units(text), u"credui_module");
    EXPECT_EQ(text.data()[text.size()], u'\0');
}

TEST(StringConstruction, FromNullPointerIsEmpty) {
    tarn::string_t text(static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(text.size(), 0u);
    EXPECT_TRUE(text.is_inline());
    EXPECT_EQ(text.data()[0], u'\0');
}

TEST(StringAppend, AppendsCountedUnitsIncludingZeroUnits) {
    tarn::string_t text(u"ab");
    const char16_t units[] = {u'x', u'\0', u'y'};
    text.append(units, 3);
    EXPECT_EQ(Units(text), std::u16string(u"abx\0y", 5));
    EXPECT_EQ(text.data()[5], u'\0');
}

TEST(StringAppend, ZeroUnitsChangeNothingEvenWhenFull) {
    CountingAllocator allocator;
    tarn::string_t text(u"1234567", &allocator);
    text.append(nullptr, 0);
    text.append(u"");
    EXPECT_TRUE(text.is_inline());
    EXPECT_EQ(Units(text), u"1234567");
    EXPECT_EQ(allocator.request_count(), 0u);
}

TEST(StringAppend, OwnInlineTextWithoutGrowth) {
    CountingAllocator allocator;
    tarn::string_t text(u"abc", &allocator);
    text.append(text.data(), text.size());
    EXPECT_EQ(Units(text), u"abcabc");
    EXPECT_TRUE(text.is_inline());
    EXPECT_EQ(allocator.request_count(), 0u);
}

TEST(StringAppend, OwnHeapTextWithoutGrowth) {
    CountingAllocator allocator;
    tarn::string_t text(u"0123456789", &allocator);
    const char16_t* block = text.data();
    text.append(text.data() + 2, 4);
    EXPECT_EQ(Units(text), u"01234567892345");
    EXPECT_EQ(text.data(), block);
    EXPECT_EQ(allocator.request_count(), 1u);
}

TEST(StringAppend, OwnInlineTextWithGrowthToTheHeap) {
    CountingAllocator allocator;
    tarn::string_t text(u"abcdefg", &allocator);
    text.append(text.data(), text.size());
    EXPECT_EQ(Units(text), u"abcdefgabcdefg");
    EXPECT_EQ(text.capacity(), 14u);
    EXPECT_FALSE(text.is_inline());
}

// The allocator object overwrites released blocks, so releasing the old
// block before the units are copied would show as wrong text.
TEST(StringAppend, OwnHeapTextWithGrowthToANewBlock) {
    CountingAllocator allocator;
    tarn::string_t text(u"0123456789", &allocator);
    const char16_t* old_block = text.data();
    text.append(text.data(), text.size());
    EXPECT_EQ(Units(text), u"01234567890123456789");
    EXPECT_NE(text.data(), old_block);
    EXPECT_EQ(text.capacity(), 28u);
    EXPECT_EQ(allocator.requests(), (std::vector<std::size_t>{30, 58}));
    EXPECT_EQ(allocator.live_blocks(), 1u);
}

TEST(StringAppend, ItselfAsStringWithGrowth) {
    CountingAllocator allocator;
    tarn::string_t text(u"0123456789", &allocator);
    text.append(text);
    EXPECT_EQ(Units(text), u"01234567890123456789");
    text += text;
    EXPECT_EQ(Units(text), u"0123456789012345678901234567890123456789");
}

TEST(StringAppend, ItsOwnTerminatedTextWithGrowth) {
    CountingAllocator allocator;
    tarn::string_t text(u"0123456789ABCD", &allocator);  // exactly full
    text.append(text.data() + 10);
    EXPECT_EQ(Units(text), u"0123456789ABCDABCD");
    EXPECT_EQ(text.capacity(), 28u);
}

TEST(StringResize, GrowingPadsWithZeroUnitsInANewBlock) {
    CountingAllocator allocator;  // new blocks are full of a pattern
    tarn::string_t text(u"abc", &allocator);
    text.resize(12);
    ASSERT_EQ(text.size(), 12u);
    EXPECT_EQ(Units(text), std::u16string(u"abc\0\0\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(text.data()[12], u'\0');
}

TEST(StringResize, GrowingWithinCapacityPadsOverOldUnits) {
    tarn::string_t text(u"abcdefghij");
    text.resize(3);
    EXPECT_EQ(Units(text), u"abc");
    EXPECT_EQ(text.data()[3], u'\0');
    text.resize(8);
    EXPECT_EQ(Units(text), std::u16string(u"abc\0\0\0\0\0", 8));
    EXPECT_EQ(text.data()[8], u'\0');
}

TEST(StringResize, ToZeroEmptiesTheText) {
    tarn::string_t text(u"abc");
    text.resize(0);
    EXPECT_EQ(text.size(), 0u);
    EXPECT_EQ(text.data()[0], u'\0');
}

TEST(StringAssignment, CopyAssignmentCopiesTextAndAllocatorObject) {
    CountingAllocator first;
    CountingAllocator second;
    {
        tarn::string_t target(u"a long text on the heap", &first);
        tarn::string_t source(u"another long text", &second);
        target = source;
        EXPECT_EQ(Units(target), u"another long text");
        EXPECT_EQ(Units(source), u"another long text");
        EXPECT_NE(target.data(), source.data());
        EXPECT_EQ(target.allocator(), &second);
        EXPECT_EQ(first.live_blocks(), 0u);
        EXPECT_EQ(first.references(), 0);
        EXPECT_EQ(second.references(), 2);
    }
    EXPECT_EQ(second.live_blocks(), 0u);
    EXPECT_EQ(second.references(), 0);
    EXPECT_EQ(first.unknown_frees() + second.unknown_frees(), 0u);
}

TEST(StringAssignment, SelfAssignmentKeepsTheText) {
    tarn::string_t text(u"a long text on the heap");
    tarn::string_t& same = text;
    text = same;
    EXPECT_EQ(Units(text), u"a long text on the heap");
}

TEST(StringAssignment, MoveAssignmentTakesTheBlockAndReleasesTheOldOne) {
    CountingAllocator allocator;
    {
        tarn::string_t target(u"the target's own block", &allocator);
        tarn::string_t source(u"the source's block", &allocator);
        const char16_t* block = source.data();
        target = std::move(source);
        EXPECT_EQ(target.data(), block);
        EXPECT_EQ(Units(target), u"the source's block");
        EXPECT_EQ(allocator.live_blocks(), 1u);
        EXPECT_EQ(source.size(), 0u);
        EXPECT_TRUE(source.is_inline());
    }
    EXPECT_EQ(allocator.live_blocks(), 0u);
    EXPECT_EQ(allocator.unknown_frees(), 0u);
    EXPECT_EQ(allocator.references(), 0);
}

}  // namespace
