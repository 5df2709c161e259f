#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>

#include "refused_large_malloc.h"

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

}  // namespace
