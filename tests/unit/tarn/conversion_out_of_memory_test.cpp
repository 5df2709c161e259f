// The throwing conversions turn a heap that refuses into std::bad_alloc
// ("bad allocation"), and a failed core leaves its target as it was.
#include <gtest/gtest.h>
#include <windows.h>

#include <new>
#include <string>

#include "import_patch.h"
#include "tarn/text_conversion.h"

namespace {

LPVOID WINAPI RefusingHeapAlloc(HANDLE, DWORD, SIZE_T) { return nullptr; }

class RefusingHeap {
  public:
    RefusingHeap()
        : patch_("KERNEL32.dll", "HeapAlloc", reinterpret_cast<const void*>(&RefusingHeapAlloc)) {}

  private:
    testing_support::ImportPatch patch_;
};

// Long enough that the result cannot stay in the inline buffer.
const char kLongNarrow[] = "CheckResultFailedException";

TEST(ConversionOutOfMemory, NarrowTextThrowsBadAllocation) {
    RefusingHeap refusing;
    try {
        tarn::ToFrameworkString(kLongNarrow);
        ADD_FAILURE() << "nothing thrown";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
}

TEST(ConversionOutOfMemory, WideTextThrowsBadAllocation) {
    std::wstring wide(L"a wide text longer than seven units");
    RefusingHeap refusing;
    EXPECT_THROW(tarn::ToFrameworkString(wide), std::bad_alloc);
}

TEST(ConversionOutOfMemory, ShortTextNeedsNoHeap) {
    RefusingHeap refusing;
    tarn::string_t text = tarn::ToFrameworkString("short");
    EXPECT_EQ(text.size(), 5u);
}

TEST(ConversionOutOfMemory, FailedCoreLeavesTargetUnchanged) {
    tarn::string_t target(u"kept");
    RefusingHeap refusing;
    EXPECT_EQ(tarn::ConvertNarrowText(kLongNarrow, sizeof(kLongNarrow) - 1, target, 4),
              tarn::kOutOfMemory);
    EXPECT_EQ(target, tarn::string_t(u"kept"));
}

}  // namespace
