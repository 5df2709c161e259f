// A missing credui.dll entry is a failed check whatever error code the
// lookup left behind: also codes that the general mapping takes for success
// HRESULTs. No module with a null entry is ever handed out.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "import_patch.h"
#include "launcher/credui_module.h"
#include "stand_in_session.h"
#include "tarn/exception.h"
#include "tarn/result_code.h"

namespace {

struct EntryCase {
    const char* entry;
    DWORD error;
    std::int32_t line;
    std::uint32_t result;
};

void PrintTo(const EntryCase& c, std::ostream* out) {
    *out << c.entry << " error 0x" << std::hex << c.error << " -> 0x" << c.result << std::dec;
}

EntryCase g_case;
decltype(&::GetProcAddress) g_real_lookup = nullptr;

FARPROC WINAPI MissingEntryGetProcAddress(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<std::uintptr_t>(name) > 0xFFFF && std::strcmp(name, g_case.entry) == 0) {
        SetLastError(g_case.error);
        return nullptr;
    }
    return g_real_lookup(module, name);
}

class CredUiEntryError : public ::testing::TestWithParam<EntryCase> {
  protected:
    CredUiEntryError() {
        g_case = GetParam();
        g_real_lookup = lookup_.original_as<decltype(&::GetProcAddress)>();
    }

    credui_testing::StandInSession session_;

  private:
    testing_support::ImportPatch lookup_{
        "KERNEL32.dll", "GetProcAddress",
        reinterpret_cast<const void*>(&MissingEntryGetProcAddress)};
};

TEST_P(CredUiEntryError, IsAFailedCheckAndTheLibraryIsFreed) {
    bool thrown = false;
    try {
        launcher::CredUiModule module;
    } catch (const tarn::CheckResultFailedException& e) {
        thrown = true;
        EXPECT_STREQ(e.GetSourceFile(), "credui_module");
        EXPECT_EQ(e.GetLine(), GetParam().line);
        EXPECT_EQ(e.GetResultCode(), tarn::MakeResultCode(GetParam().result));
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(GetModuleHandleW(launcher::GetCredUiLibraryPath().c_str()), nullptr);
    EXPECT_EQ(session_.EventNames(), "attach detach");
}

INSTANTIATE_TEST_SUITE_P(
    ErrorCodes, CredUiEntryError,
    ::testing::Values(EntryCase{"CredUIPromptForWindowsCredentialsW", 0x00010000u, 21, 0x80010100u},
                      EntryCase{"CredUIPromptForWindowsCredentialsW", 0x7FFFFFFFu, 21, 0x80010100u},
                      EntryCase{"CredUIPromptForWindowsCredentialsW", 0x8007007Fu, 21, 0x80010107u},
                      EntryCase{"CredUnPackAuthenticationBufferW", 0x00010000u, 22, 0x80010100u},
                      EntryCase{"CredUnPackAuthenticationBufferW", 0x7FFFFFFFu, 22, 0x80010100u},
                      EntryCase{"CredUnPackAuthenticationBufferW", 0x8007007Eu, 22, 0x80010112u}));

}  // namespace
