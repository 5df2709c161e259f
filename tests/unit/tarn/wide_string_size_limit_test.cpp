// A wide string cannot be made longer than its own size limit: the core
// reports that as running out of memory and leaves the target as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tarn/text_conversion.h"

namespace {

TEST(WideStringSizeLimit, StartBeyondTheLimitIsOutOfMemoryAndChangesNothing) {
    std::wstring target(L"kept");
    EXPECT_EQ(tarn::ConvertToWideString(tarn::string_t(u"XY"), target, target.max_size()),
              tarn::kOutOfMemory);
    // A start so large that adding the length would wrap round to a small size.
    EXPECT_EQ(tarn::ConvertToWideString(tarn::string_t(u"XY"), target, SIZE_MAX),
              tarn::kOutOfMemory);
    EXPECT_EQ(target, L"kept");
}

}  // namespace
