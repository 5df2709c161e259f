#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

#include "counting_allocator.h"
#include "tarn/allocator.h"
#include "tarn/string.h"

namespace {

using tarn_test::CountingAllocator;

TEST(FrameworkAllocator, WithoutAllocatorObjectUsesTheProcessHeap) {
    void* block = tarn::Allocate(nullptr, 30);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), SIZE_T{30});
    tarn::Free(nullptr, block);
}

TEST(FrameworkAllocator, StringBlocksComeFromTheProcessHeap) {
    tarn::string_t text(u"12345678");
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, text.data()), SIZE_T{30});
}

TEST(FrameworkAllocator, ProcessHeapRefusalThrowsBadAllocation) {
    try {
        tarn::Allocate(nullptr, std::numeric_limits<std::size_t>::max() / 2);
        ADD_FAILURE() << "no exception";
    } catch (const std::bad_alloc& error) {
        EXPECT_STREQ(error.what(), "bad allocation");
    }
}

TEST(FrameworkAllocator, WithAllocatorObjectAsksTheObject) {
    CountingAllocator allocator;
    void* block = tarn::Allocate(&allocator, 40);
    EXPECT_TRUE(allocator.owns(block));
    EXPECT_EQ(allocator.requests(), std::vector<std::size_t>{40});
    tarn::Free(&allocator, block);
    EXPECT_EQ(allocator.frees(), 1u);
    EXPECT_EQ(allocator.live_blocks(), 0u);
}

TEST(FrameworkAllocator, NullAnswerOfTheAllocatorObjectThrowsBadAllocation) {
    CountingAllocator allocator;
    allocator.set_failing(true);
    try {
        tarn::Allocate(&allocator, 16);
        ADD_FAILURE() << "no exception";
    } catch (const std::bad_alloc& error) {
        EXPECT_STREQ(error.what(), "bad allocation");
    }
    EXPECT_EQ(allocator.request_count(), 1u);
}

}  // namespace
