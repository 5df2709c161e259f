// A GoogleTest program whose second test crashes: the proof that a crash
// fails a test run whatever exit code Wine gives the crashed process.
#include <gtest/gtest.h>

namespace {

TEST(CrashingProgram, PassesBeforeTheCrash) { EXPECT_EQ(1 + 1, 2); }

TEST(CrashingProgram, WritesThroughANullPointer) {
    // Volatile on both levels: otherwise the compiler drops the write.
    volatile int* volatile target = nullptr;
    *target = 1;
}

TEST(CrashingProgram, NeverRuns) { EXPECT_EQ(2 + 2, 4); }

}  // namespace
