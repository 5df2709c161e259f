// The DLL search restriction on systems with and without the safe default,
// scripted through the lookups so that the test process's own search order
// is never changed.
#include "launcher/dll_search.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "import_patch.h"

namespace {

enum class DefaultCall { kMissing, kFails, kSucceeds };

struct SearchCase {
    const char* name;
    DefaultCall default_call;
    BOOL fallback_result;
    // What should happen.
    bool fallback_called;
    bool restricted;
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

SearchCase g_case;
std::vector<DWORD> g_default_flags;
std::vector<std::wstring> g_fallback_directories;
decltype(&::GetProcAddress) g_real_get_proc_address = nullptr;

BOOL WINAPI ScriptedSetDefaultDllDirectories(DWORD flags) {
    g_default_flags.push_back(flags);
    if (g_case.default_call == DefaultCall::kSucceeds) return TRUE;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

FARPROC WINAPI ScriptedGetProcAddress(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<std::uintptr_t>(name) > 0xFFFF &&
        std::strcmp(name, "SetDefaultDllDirectories") == 0) {
        if (g_case.default_call == DefaultCall::kMissing) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void*>(&ScriptedSetDefaultDllDirectories));
    }
    return g_real_get_proc_address(module, name);
}

BOOL WINAPI ScriptedSetDllDirectoryW(LPCWSTR directory) {
    g_fallback_directories.push_back(directory ? directory : L"<null>");
    if (!g_case.fallback_result) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return g_case.fallback_result;
}

class DllSearch : public ::testing::TestWithParam<SearchCase> {
  protected:
    DllSearch() {
        g_case = GetParam();
        g_default_flags.clear();
        g_fallback_directories.clear();
        g_real_get_proc_address = lookup_.original_as<decltype(&::GetProcAddress)>();
    }

  private:
    testing_support::ImportPatch lookup_{"KERNEL32.dll", "GetProcAddress",
                                         reinterpret_cast<const void*>(&ScriptedGetProcAddress)};
    testing_support::ImportPatch fallback_{
        "KERNEL32.dll", "SetDllDirectoryW",
        reinterpret_cast<const void*>(&ScriptedSetDllDirectoryW)};
};

TEST_P(DllSearch, FallsBackToDroppingTheCurrentDirectoryAndReportsWhenNothingWorked) {
    const SearchCase& c = GetParam();
    EXPECT_EQ(launcher::RestrictDllSearchToSystem32(), c.restricted);
    if (c.default_call == DefaultCall::kMissing) {
        EXPECT_TRUE(g_default_flags.empty());
    } else {
        EXPECT_EQ(g_default_flags, std::vector<DWORD>{LOAD_LIBRARY_SEARCH_SYSTEM32});
    }
    if (c.fallback_called) {
        EXPECT_EQ(g_fallback_directories, std::vector<std::wstring>{L""});
    } else {
        EXPECT_TRUE(g_fallback_directories.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DllSearch,
    ::testing::Values(
        SearchCase{"DefaultSucceeds", DefaultCall::kSucceeds, TRUE, false, true},
        SearchCase{"DefaultFails", DefaultCall::kFails, TRUE, true, true},
        SearchCase{"DefaultMissing", DefaultCall::kMissing, TRUE, true, true},
        SearchCase{"DefaultFailsFallbackFails", DefaultCall::kFails, FALSE, true, false},
        SearchCase{"DefaultMissingFallbackFails", DefaultCall::kMissing, FALSE, true, false}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

}  // namespace
