#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>

#include "import_patch.h"

namespace {

using MallocFn = void*(__cdecl*)(std::size_t);
MallocFn g_real_malloc = nullptr;

// Refuses only the large request under test; the runtime's own small
// allocations (the exception object among them) still succeed.
constexpr std::size_t kRefusedFrom = 1 << 20;
void* __cdecl RefusingMalloc(std::size_t size) {
    return size >= kRefusedFrom ? nullptr : g_real_malloc(size);
}

// What the launcher shows for memory exhaustion is the exception's text.
TEST(AllocationFailure, StandardContainersThrowBadAllocation) {
    testing_support::ImportPatch refuse("msvcrt.dll", "malloc",
                                        reinterpret_cast<const void*>(&RefusingMalloc));
    g_real_malloc = refuse.original_as<MallocFn>();
    try {
        std::wstring text(kRefusedFrom, L'x');
        ADD_FAILURE() << "nothing thrown, size " << text.size();
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
}

}  // namespace
