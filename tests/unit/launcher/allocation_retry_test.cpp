// The replaced operator new honours a new handler before it gives up, and
// operator new[] fails the same way as operator new.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <new>

#include "refused_large_malloc.h"

namespace {

using launcher_testing::RefusedLargeMalloc;
constexpr std::size_t kRefusedFrom = RefusedLargeMalloc::kRefusedFrom;

// Kept where the compiler must assume it is read, so that no allocation
// below is left out.
void* volatile g_block = nullptr;

int g_handler_calls = 0;

// Gives up after being asked twice, the way a handler with nothing left to
// release does.
void GivingUpHandler() {
    if (++g_handler_calls == 2) std::set_new_handler(nullptr);
}

class RefusedAllocation : public ::testing::Test {
  protected:
    ~RefusedAllocation() override { std::set_new_handler(nullptr); }

    RefusedLargeMalloc refuse_;
};

TEST_F(RefusedAllocation, NewHandlerIsAskedUntilItGivesUp) {
    g_handler_calls = 0;
    std::set_new_handler(&GivingUpHandler);
    try {
        g_block = ::operator new(kRefusedFrom);
        ::operator delete(g_block);
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
    EXPECT_EQ(g_handler_calls, 2);
}

TEST_F(RefusedAllocation, ArrayNewThrowsBadAllocation) {
    try {
        g_block = new char[kRefusedFrom];
        delete[] static_cast<char*>(g_block);
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
}

}  // namespace
