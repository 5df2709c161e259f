#include <gtest/gtest.h>

#include "tarn/exception.h"
#include "tarn/text_conversion.h"

TEST(Smoke, DisplayText) {
    tarn::CheckFailedException e("F", 20);
    e << "Failed to open credui.dll, error: " << 126u;
    EXPECT_EQ(tarn::ToWideString(e.GetDisplayText()),
              L"CheckFailedException - Failed to open credui.dll, error: 126. At F(20) ");
}
