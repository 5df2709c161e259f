// A display text that cannot be converted for lack of memory still leaves a
// readable message: a placeholder in its place, and the rest of the chain.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "refused_large_malloc.h"
#include "launcher/failure_text.h"
#include "tarn/exception.h"

namespace {

using launcher_testing::RefusedLargeMalloc;

TEST(FailureTextOutOfMemory, UnconvertibleTextIsReplacedAndTheChainGoesOn) {
    tarn::CheckResultFailedException outer("credui_module", 21, tarn::kSymbolNotFound);
    // The framework's own strings live on the process heap; only the wide
    // copy for the message box needs more than the C runtime will give.
    tarn::string_t long_message;
    long_message.resize(RefusedLargeMalloc::kRefusedFrom);
    outer.AppendToMessage(long_message);
    outer.SetNested(std::make_unique<tarn::CheckFailedException>("principalid", 522));
    std::wstring text = L"Failed to load credui.dll: ";

    RefusedLargeMalloc refuse;
    launcher::AppendExceptionText(text, outer);
    EXPECT_EQ(text,
              L"Failed to load credui.dll: <Exception display text conversion error>;"
              L"CheckFailedException - . At principalid(522) ");
}

}  // namespace
