#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "import_patch.h"
#include "refused_large_malloc.h"

// The sized forms, which <new> declares only where the compiler uses sized
// deallocation (GCC does by default, clang 14 does not); the launcher
// defines them either way.
void operator delete(void* block, std::size_t size) noexcept;
void operator delete[](void* block, std::size_t size) noexcept;

namespace {

using launcher_testing::RefusedLargeMalloc;

// What the launcher shows for memory exhaustion is the exception's text.
TEST(AllocationFailure, StandardContainersThrowBadAllocation) {
    RefusedLargeMalloc refuse;
    try {
        std::wstring text(RefusedLargeMalloc::kRefusedFrom, L'x');
        ADD_FAILURE() << "nothing thrown, size " << text.size();
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
}

// For the length of a scope, every block the C runtime's free is handed is
// recorded, and freed.
class RecordedFree {
  public:
    RecordedFree() {
        real_free_ = patch_.original_as<FreeFn>();
        freed_.clear();
    }
    // Whether the block at `address` was freed since the last question.
    static bool Freed(std::uintptr_t address) {
        bool found = std::find(freed_.begin(), freed_.end(), address) != freed_.end();
        freed_.clear();
        return found;
    }

  private:
    using FreeFn = void(__cdecl*)(void*);
    static void __cdecl Recording(void* block) {
        freed_.push_back(reinterpret_cast<std::uintptr_t>(block));
        real_free_(block);
    }

    static inline FreeFn real_free_ = nullptr;
    static inline std::vector<std::uintptr_t> freed_;
    testing_support::ImportPatch patch_{"msvcrt.dll", "free",
                                        reinterpret_cast<const void*>(&Recording)};
};

// The block's address; also keeps the compiler from dropping an allocation
// that nothing else uses.
std::uintptr_t Used(void* block) {
    asm volatile("" : : "r"(block) : "memory");
    return reinterpret_cast<std::uintptr_t>(block);
}

// Every form of delete gives the block back to the C runtime, which gave it.
TEST(AllocationFailure, EveryDeleteReturnsTheBlockToTheRuntime) {
    RecordedFree recorded;
    void* single = ::operator new(24);
    std::uintptr_t address = Used(single);
    ::operator delete(single);
    EXPECT_TRUE(RecordedFree::Freed(address));
    void* sized = ::operator new(24);
    address = Used(sized);
    ::operator delete(sized, 24);
    EXPECT_TRUE(RecordedFree::Freed(address));
    void* array = ::operator new[](24);
    address = Used(array);
    ::operator delete[](array);
    EXPECT_TRUE(RecordedFree::Freed(address));
    void* sized_array = ::operator new[](24);
    address = Used(sized_array);
    ::operator delete[](sized_array, 24);
    EXPECT_TRUE(RecordedFree::Freed(address));
}

}  // namespace
