#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "counting_allocator.h"
#include "import_patch.h"
#include "tarn/allocator.h"
#include "tarn/string.h"

namespace {

using tarn_test::CountingAllocator;

// HeapFree calls of this executable, recorded while one lives.
struct HeapFreeCall {
    HANDLE heap;
    DWORD flags;
    std::uintptr_t block;
    bool operator==(const HeapFreeCall& other) const {
        return heap == other.heap && flags == other.flags && block == other.block;
    }
};

class RecordedHeapFree {
  public:
    RecordedHeapFree() {
        real_ = patch_.original_as<decltype(&::HeapFree)>();
        calls_.clear();
    }
    static const std::vector<HeapFreeCall>& calls() { return calls_; }

  private:
    static BOOL WINAPI Recording(HANDLE heap, DWORD flags, LPVOID block) {
        calls_.push_back({heap, flags, reinterpret_cast<std::uintptr_t>(block)});
        return real_(heap, flags, block);
    }
    static inline decltype(&::HeapFree) real_ = nullptr;
    static inline std::vector<HeapFreeCall> calls_;
    testing_support::ImportPatch patch_{"KERNEL32.dll", "HeapFree",
                                        reinterpret_cast<const void*>(&Recording)};
};

TEST(FrameworkAllocator, WithoutAllocatorObjectUsesTheProcessHeap) {
    void* block = tarn::Allocate(nullptr, 30);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), SIZE_T{30});
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    RecordedHeapFree recorded;
    tarn::Free(nullptr, block);
    EXPECT_EQ(RecordedHeapFree::calls(),
              (std::vector<HeapFreeCall>{{GetProcessHeap(), 0, address}}));
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
