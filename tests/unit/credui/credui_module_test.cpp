// Loading, binding and freeing of the credential UI library, and its failures.
#include "launcher/credui_module.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "import_patch.h"
#include "stand_in_session.h"
#include "system_directory_override.h"
#include "tarn/exception.h"
#include "tarn/result_code.h"
#include "tarn/text_conversion.h"

namespace {

using credui_testing::StandInSession;
using credui_testing::StandInVariantFolder;
using credui_testing::SystemDirectoryOverride;

constexpr char kPromptEntry[] = "CredUIPromptForWindowsCredentialsW";
constexpr char kUnpackEntry[] = "CredUnPackAuthenticationBufferW";

struct LoadCall {
    std::wstring path;
    HANDLE file;
    DWORD flags;
    HMODULE result;
    DWORD error;
};

decltype(&::LoadLibraryExW) g_load_original = nullptr;
decltype(&::FreeLibrary) g_free_original = nullptr;
decltype(&::GetProcAddress) g_lookup_original = nullptr;
std::vector<LoadCall> g_loads;
std::vector<HMODULE> g_frees;
bool g_refuse_load = false;
DWORD g_refuse_load_error = 0;
std::string g_missing_entry;
DWORD g_missing_entry_error = 0;

HMODULE WINAPI RecordingLoadLibraryExW(LPCWSTR path, HANDLE file, DWORD flags) {
    HMODULE module = nullptr;
    if (g_refuse_load) {
        SetLastError(g_refuse_load_error);
    } else {
        module = g_load_original(path, file, flags);
    }
    DWORD error = GetLastError();
    g_loads.push_back({path ? path : L"", file, flags, module, error});
    SetLastError(error);
    return module;
}

BOOL WINAPI RecordingFreeLibrary(HMODULE module) {
    g_frees.push_back(module);
    return g_free_original(module);
}

FARPROC WINAPI ScriptedGetProcAddress(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<std::uintptr_t>(name) > 0xFFFF && g_missing_entry == name) {
        SetLastError(g_missing_entry_error);
        return nullptr;
    }
    return g_lookup_original(module, name);
}

// What a failed construction threw.
struct Failure {
    std::string kind;
    std::string source_file;
    std::int32_t line = 0;
    tarn::ResultCode code = 0;
    std::wstring message;
    std::wstring display_text;
};

Failure ConstructionFailure() {
    Failure failure;
    try {
        launcher::CredUiModule module;
        failure.kind = "none";
    } catch (const tarn::CheckResultFailedException& e) {
        failure.kind = e.what();
        failure.source_file = e.GetSourceFile();
        failure.line = e.GetLine();
        failure.code = e.GetResultCode();
        failure.message = tarn::ToWideString(e.GetMessage());
        failure.display_text = tarn::ToWideString(e.GetDisplayText());
    } catch (const tarn::CheckFailedException& e) {
        failure.kind = e.what();
        failure.source_file = e.GetSourceFile();
        failure.line = e.GetLine();
        failure.message = tarn::ToWideString(e.GetMessage());
        failure.display_text = tarn::ToWideString(e.GetDisplayText());
    } catch (const std::exception& e) {
        failure.kind = std::string("other: ") + e.what();
    }
    return failure;
}

class CredUiModuleTest : public ::testing::Test {
  protected:
    CredUiModuleTest()
        : load_patch_("KERNEL32.dll", "LoadLibraryExW",
                      reinterpret_cast<const void*>(&RecordingLoadLibraryExW)),
          free_patch_("KERNEL32.dll", "FreeLibrary",
                      reinterpret_cast<const void*>(&RecordingFreeLibrary)),
          lookup_patch_("KERNEL32.dll", "GetProcAddress",
                        reinterpret_cast<const void*>(&ScriptedGetProcAddress)) {
        g_load_original = load_patch_.original_as<decltype(&::LoadLibraryExW)>();
        g_free_original = free_patch_.original_as<decltype(&::FreeLibrary)>();
        g_lookup_original = lookup_patch_.original_as<decltype(&::GetProcAddress)>();
        g_loads.clear();
        g_frees.clear();
        g_refuse_load = false;
        g_missing_entry.clear();
    }

    // The library that was loaded by the one load call, freed again, and
    // gone from the process.
    void ExpectLoadedOnceAndFreed(const std::wstring& path) {
        ASSERT_EQ(g_loads.size(), 1u);
        ASSERT_NE(g_loads[0].result, nullptr);
        EXPECT_EQ(g_loads[0].path, path);
        EXPECT_EQ(g_frees, std::vector<HMODULE>{g_loads[0].result});
        EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);
        EXPECT_EQ(session_.EventNames(), "attach detach");
    }

    StandInSession session_;

  private:
    testing_support::ImportPatch load_patch_;
    testing_support::ImportPatch free_patch_;
    testing_support::ImportPatch lookup_patch_;
};

TEST_F(CredUiModuleTest, LoadsByFullPathWithAlteredSearchPathOnly) {
    const std::wstring path = launcher::GetCredUiLibraryPath();
    {
        launcher::CredUiModule module;
        ASSERT_EQ(g_loads.size(), 1u);
        EXPECT_EQ(g_loads[0].path, path);
        EXPECT_EQ(g_loads[0].file, nullptr);
        EXPECT_EQ(g_loads[0].flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
        EXPECT_EQ(module.module(), g_loads[0].result);
        EXPECT_EQ(GetModuleHandleW(path.c_str()), module.module());
        EXPECT_TRUE(g_frees.empty());
        EXPECT_EQ(reinterpret_cast<void*>(module.prompt()),
                  reinterpret_cast<void*>(g_lookup_original(module.module(), kPromptEntry)));
        EXPECT_EQ(reinterpret_cast<void*>(module.unpack()),
                  reinterpret_cast<void*>(g_lookup_original(module.module(), kUnpackEntry)));
        EXPECT_NE(reinterpret_cast<void*>(module.prompt()), nullptr);
        EXPECT_NE(reinterpret_cast<void*>(module.unpack()), nullptr);
    }
    ExpectLoadedOnceAndFreed(path);
}

TEST_F(CredUiModuleTest, MissingLibraryIsACheckFailureAtLine20) {
    StandInVariantFolder empty_folder(L"credui.dll");
    DeleteFileW(empty_folder.library_path().c_str());
    SystemDirectoryOverride directory(empty_folder.folder());

    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "CheckFailedException");
    EXPECT_EQ(failure.source_file, "credui_module");
    EXPECT_EQ(failure.line, 20);
    ASSERT_EQ(g_loads.size(), 1u);  // no retry, no other folder
    EXPECT_EQ(g_loads[0].path, empty_folder.library_path());
    EXPECT_EQ(g_loads[0].result, nullptr);
    EXPECT_NE(g_loads[0].error, 0u);
    EXPECT_EQ(failure.message,
              L"Failed to open credui.dll, error: " + std::to_wstring(g_loads[0].error));
    EXPECT_TRUE(g_frees.empty());
    EXPECT_EQ(session_.EventNames(), "");
}

TEST_F(CredUiModuleTest, LoadErrorIsWrittenAsUnsignedDecimal) {
    g_refuse_load = true;
    g_refuse_load_error = 0x80070002u;
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "CheckFailedException");
    EXPECT_EQ(failure.line, 20);
    EXPECT_EQ(failure.message, L"Failed to open credui.dll, error: 2147942402");
    EXPECT_EQ(failure.display_text,
              L"CheckFailedException - Failed to open credui.dll, error: 2147942402. "
              L"At credui_module(20) ");
}

TEST_F(CredUiModuleTest, LoadErrorFive) {
    g_refuse_load = true;
    g_refuse_load_error = ERROR_ACCESS_DENIED;
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.message, L"Failed to open credui.dll, error: 5");
    EXPECT_TRUE(g_frees.empty());
}

TEST_F(CredUiModuleTest, LibraryWithoutThePromptEntryFailsAtLine21AndIsFreed) {
    StandInVariantFolder folder(L"credui_noprompt.dll");
    SystemDirectoryOverride directory(folder.folder());
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "CheckResultFailedException");
    EXPECT_EQ(failure.source_file, "credui_module");
    EXPECT_EQ(failure.line, 21);
    EXPECT_EQ(static_cast<std::uint32_t>(failure.code), 0x80010107u);
    EXPECT_EQ(failure.message, L"");
    ExpectLoadedOnceAndFreed(folder.library_path());
}

TEST_F(CredUiModuleTest, LibraryWithoutTheUnpackEntryFailsAtLine22AndIsFreed) {
    StandInVariantFolder folder(L"credui_nounpack.dll");
    SystemDirectoryOverride directory(folder.folder());
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "CheckResultFailedException");
    EXPECT_EQ(failure.source_file, "credui_module");
    EXPECT_EQ(failure.line, 22);
    EXPECT_EQ(static_cast<std::uint32_t>(failure.code), 0x80010107u);
    ExpectLoadedOnceAndFreed(folder.library_path());
}

TEST_F(CredUiModuleTest, PromptEntryMissingWithoutLastErrorStillFailsAtLine21) {
    g_missing_entry = kPromptEntry;
    g_missing_entry_error = ERROR_SUCCESS;
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "CheckResultFailedException");
    EXPECT_EQ(failure.line, 21);
    EXPECT_EQ(static_cast<std::uint32_t>(failure.code), 0x80010107u);
    ExpectLoadedOnceAndFreed(launcher::GetCredUiLibraryPath());
}

TEST_F(CredUiModuleTest, UnpackEntryMissingWithoutLastErrorStillFailsAtLine22) {
    g_missing_entry = kUnpackEntry;
    g_missing_entry_error = ERROR_SUCCESS;
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "CheckResultFailedException");
    EXPECT_EQ(failure.line, 22);
    EXPECT_EQ(static_cast<std::uint32_t>(failure.code), 0x80010107u);
    ExpectLoadedOnceAndFreed(launcher::GetCredUiLibraryPath());
}

TEST_F(CredUiModuleTest, EntryLookupErrorIsConvertedIntoTheResultCode) {
    g_missing_entry = kPromptEntry;
    g_missing_entry_error = ERROR_ACCESS_DENIED;
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "CheckResultFailedException");
    EXPECT_EQ(failure.line, 21);
    EXPECT_EQ(failure.code, tarn::ResultCodeFromWindowsError(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(tarn::Failed(failure.code));
    EXPECT_NE(static_cast<std::uint32_t>(failure.code), 0x80010107u);
    ExpectLoadedOnceAndFreed(launcher::GetCredUiLibraryPath());
}

TEST_F(CredUiModuleTest, SystemDirectoryFailurePassesThroughBeforeAnyLoad) {
    SystemDirectoryOverride directory(L"");  // reports a directory that cannot be read
    Failure failure = ConstructionFailure();
    EXPECT_EQ(failure.kind, "other: Failed to get system32 path");
    EXPECT_TRUE(g_loads.empty());
    EXPECT_TRUE(g_frees.empty());
}

TEST_F(CredUiModuleTest, EachObjectLoadsAndFreesTheLibraryAgain) {
    HMODULE first = nullptr;
    {
        launcher::CredUiModule module;
        first = module.module();
    }
    {
        launcher::CredUiModule module;
        EXPECT_NE(module.module(), nullptr);
    }
    ASSERT_EQ(g_loads.size(), 2u);
    EXPECT_EQ(g_frees, (std::vector<HMODULE>{first, g_loads[1].result}));
    EXPECT_EQ(session_.EventNames(), "attach detach attach detach");
}

}  // namespace
