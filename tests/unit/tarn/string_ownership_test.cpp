#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "counting_allocator.h"
#include "framework_text.h"
#include "tarn/string.h"

namespace {

using tarn_test::CountingAllocator;
using tarn_test::Units;

void ExpectEmptyInline(const tarn::string_t& text) {
    EXPECT_EQ(text.size(), 0u);
    EXPECT_EQ(text.capacity(), 7u);
    EXPECT_TRUE(text.is_inline());
    EXPECT_EQ(text.data()[0], u'\0');
}

TEST(StringOwnership, AStringHoldsOneReferenceToItsAllocatorObject) {
    CountingAllocator allocator;
    {
        tarn::string_t text(&allocator);
        EXPECT_EQ(allocator.references(), 1);
    }
    EXPECT_EQ(allocator.references(), 0);
}

TEST(StringOwnership, CopySharesTheAllocatorObjectAndHasItsOwnBlock) {
    CountingAllocator allocator;
    tarn::string_t original(u"a text on the heap", &allocator);
    {
        tarn::string_t copy(original);
        EXPECT_EQ(copy.allocator(), &allocator);
        EXPECT_EQ(allocator.references(), 2);
        EXPECT_EQ(Units(copy), u"a text on the heap");
        EXPECT_NE(copy.data(), original.data());
        EXPECT_TRUE(allocator.owns(copy.data()));
        EXPECT_EQ(allocator.live_blocks(), 2u);
    }
    EXPECT_EQ(allocator.references(), 1);
    EXPECT_EQ(allocator.live_blocks(), 1u);
    EXPECT_TRUE(allocator.owns(original.data()));
    EXPECT_EQ(Units(original), u"a text on the heap");
}

TEST(StringOwnership, CopyOutlivesTheOriginal) {
    CountingAllocator allocator;
    auto original = std::make_unique<tarn::string_t>(u"a text on the heap", &allocator);
    tarn::string_t copy(*original);
    original.reset();
    EXPECT_EQ(Units(copy), u"a text on the heap");
    EXPECT_EQ(allocator.references(), 1);
    EXPECT_EQ(allocator.live_blocks(), 1u);
}

TEST(StringOwnership, CopyOfInlineTextStaysInline) {
    CountingAllocator allocator;
    tarn::string_t original(u"short", &allocator);
    tarn::string_t copy(original);
    EXPECT_TRUE(copy.is_inline());
    EXPECT_NE(copy.data(), original.data());
    EXPECT_EQ(Units(copy), u"short");
    EXPECT_EQ(allocator.request_count(), 0u);
}

TEST(StringOwnership, MoveTakesOverTheHeapBlockAndEmptiesTheSource) {
    CountingAllocator allocator;
    tarn::string_t source(u"a text on the heap", &allocator);
    const char16_t* block = source.data();
    const auto capacity = source.capacity();
    tarn::string_t target(std::move(source));
    EXPECT_EQ(target.data(), block);
    EXPECT_EQ(target.capacity(), capacity);
    EXPECT_EQ(Units(target), u"a text on the heap");
    EXPECT_EQ(target.allocator(), &allocator);
    EXPECT_EQ(allocator.request_count(), 1u);
    ExpectEmptyInline(source);
}

TEST(StringOwnership, MoveCopiesAnInlineTextAndEmptiesTheSource) {
    tarn::string_t source(u"short");
    tarn::string_t target(std::move(source));
    EXPECT_TRUE(target.is_inline());
    EXPECT_EQ(Units(target), u"short");
    EXPECT_EQ(target.data()[5], u'\0');
    ExpectEmptyInline(source);
}

TEST(StringOwnership, MovedFromStringCanBeUsedAgain) {
    tarn::string_t source(u"a text on the heap");
    tarn::string_t target(std::move(source));
    source.append(u"again, long enough for a block");
    EXPECT_EQ(Units(source), u"again, long enough for a block");
    EXPECT_EQ(Units(target), u"a text on the heap");
}

TEST(StringOwnership, DestructionReleasesTheBlockAndTheReference) {
    CountingAllocator allocator;
    {
        tarn::string_t text(u"a text on the heap", &allocator);
        text.append(u" that grows once more and again");
        EXPECT_EQ(allocator.live_blocks(), 1u);
    }
    EXPECT_EQ(allocator.live_blocks(), 0u);
    EXPECT_EQ(allocator.frees(), allocator.request_count());
    EXPECT_EQ(allocator.unknown_frees(), 0u);
    EXPECT_EQ(allocator.references(), 0);
}

}  // namespace
