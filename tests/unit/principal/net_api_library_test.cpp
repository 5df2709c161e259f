// netapi32.dll that cannot be had: the library object reports why, binds
// nothing, and leaves no module loaded.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "import_patch.h"
#include "tarn/system/security/windows/net_api_library.h"

namespace {

using tarn::windows::security::detail::NetApiLibrary;

template <class Function>
const void* Address(Function function) {
    return reinterpret_cast<const void*>(function);
}

// What the replacements below answer, and what they saw.
UINT g_directory_length = 0;
DWORD g_error = ERROR_SUCCESS;
const char* g_missing_entry = nullptr;
int g_loads = 0;
int g_frees = 0;
decltype(&::GetProcAddress) g_real_get_proc_address = nullptr;
decltype(&::LoadLibraryExW) g_real_load = nullptr;
decltype(&::FreeLibrary) g_real_free = nullptr;

UINT WINAPI FailingSystemDirectory(LPWSTR buffer, UINT size) {
    if (buffer && size > 0) buffer[0] = L'\0';
    SetLastError(g_error);
    return g_directory_length;
}

// A system directory of the test's choosing, and the paths asked to load.
std::wstring g_directory;
std::vector<std::wstring> g_load_paths;

UINT WINAPI ScriptedSystemDirectory(LPWSTR buffer, UINT size) {
    if (size <= g_directory.size()) return static_cast<UINT>(g_directory.size() + 1);
    buffer[g_directory.copy(buffer, g_directory.size())] = L'\0';
    return static_cast<UINT>(g_directory.size());
}

HMODULE WINAPI RefusingLoad(LPCWSTR path, HANDLE, DWORD) {
    g_load_paths.emplace_back(path);
    ++g_loads;
    SetLastError(g_error);
    return nullptr;
}

HMODULE WINAPI CountingLoad(LPCWSTR path, HANDLE file, DWORD flags) {
    ++g_loads;
    return g_real_load(path, file, flags);
}

BOOL WINAPI CountingFree(HMODULE module) {
    ++g_frees;
    return g_real_free(module);
}

FARPROC WINAPI LackingGetProcAddress(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && std::strcmp(name, g_missing_entry) == 0) {
        SetLastError(g_error);
        return nullptr;
    }
    return g_real_get_proc_address(module, name);
}

class NetApiLibraryFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        g_directory_length = 0;
        g_error = ERROR_SUCCESS;
        g_missing_entry = nullptr;
        g_loads = 0;
        g_frees = 0;
        g_load_paths.clear();
    }

    // The path NetApiLibrary asks to load with `directory` as the system
    // directory, or nothing when it loads nothing.
    static std::vector<std::wstring> PathsLoadedFrom(const std::wstring& directory) {
        testing_support::ImportPatch system("KERNEL32.dll", "GetSystemDirectoryW",
                                            Address(&ScriptedSystemDirectory));
        testing_support::ImportPatch load("KERNEL32.dll", "LoadLibraryExW", Address(&RefusingLoad));
        g_directory = directory;
        g_load_paths.clear();
        NetApiLibrary library;
        EXPECT_FALSE(library.loaded());
        return g_load_paths;
    }
};

TEST_F(NetApiLibraryFailure, OneSeparatorStandsBetweenTheDirectoryAndTheName) {
    using Paths = std::vector<std::wstring>;
    EXPECT_EQ(PathsLoadedFrom(L"C:\\Sys"), Paths{L"C:\\Sys\\netapi32.dll"});
    EXPECT_EQ(PathsLoadedFrom(L"C:\\Sys\\"), Paths{L"C:\\Sys\\netapi32.dll"});
    EXPECT_EQ(PathsLoadedFrom(L"C:/Sys/"), Paths{L"C:/Sys/netapi32.dll"});
}

// The longest directory that still leaves room for the separator, the name
// and the terminator fills the path buffer exactly; one unit more is refused.
TEST_F(NetApiLibraryFailure, DirectoryThatFillsThePathExactlyIsUsed) {
    const std::size_t longest = MAX_PATH - 1 - std::wcslen(L"\\netapi32.dll");
    const std::wstring directory = L"C:\\" + std::wstring(longest - 3, L'd');
    using Paths = std::vector<std::wstring>;
    EXPECT_EQ(PathsLoadedFrom(directory), Paths{directory + L"\\netapi32.dll"});
    EXPECT_EQ(PathsLoadedFrom(directory + L"e"), Paths{});
}

TEST_F(NetApiLibraryFailure, UnreadableSystemDirectoryGivesItsErrorAndLoadsNothing) {
    testing_support::ImportPatch directory("KERNEL32.dll", "GetSystemDirectoryW",
                                           Address(&FailingSystemDirectory));
    testing_support::ImportPatch load("KERNEL32.dll", "LoadLibraryExW", Address(&RefusingLoad));
    g_error = ERROR_ACCESS_DENIED;
    NetApiLibrary library;
    EXPECT_FALSE(library.loaded());
    EXPECT_EQ(library.error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(g_loads, 0);
}

TEST_F(NetApiLibraryFailure, SystemDirectoryTooLongForThePathIsPathNotFound) {
    testing_support::ImportPatch directory("KERNEL32.dll", "GetSystemDirectoryW",
                                           Address(&FailingSystemDirectory));
    testing_support::ImportPatch load("KERNEL32.dll", "LoadLibraryExW", Address(&RefusingLoad));
    // Fits MAX_PATH itself, but leaves no room for "\netapi32.dll".
    g_directory_length = MAX_PATH - 5;
    NetApiLibrary library;
    EXPECT_FALSE(library.loaded());
    EXPECT_EQ(library.error(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(g_loads, 0);
}

TEST_F(NetApiLibraryFailure, LoadFailureGivesTheLoadError) {
    testing_support::ImportPatch load("KERNEL32.dll", "LoadLibraryExW", Address(&RefusingLoad));
    g_error = ERROR_BAD_EXE_FORMAT;
    NetApiLibrary library;
    EXPECT_EQ(g_loads, 1);
    EXPECT_FALSE(library.loaded());
    EXPECT_EQ(library.error(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
}

TEST_F(NetApiLibraryFailure, LoadFailureWithoutAnErrorIsModuleNotFound) {
    testing_support::ImportPatch load("KERNEL32.dll", "LoadLibraryExW", Address(&RefusingLoad));
    NetApiLibrary library;
    EXPECT_FALSE(library.loaded());
    EXPECT_EQ(library.error(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(NetApiLibraryFailure, MissingEntryBindsNeitherAndTheLibraryIsFreed) {
    testing_support::ImportPatch load("KERNEL32.dll", "LoadLibraryExW", Address(&CountingLoad));
    testing_support::ImportPatch free("KERNEL32.dll", "FreeLibrary", Address(&CountingFree));
    testing_support::ImportPatch bind("KERNEL32.dll", "GetProcAddress",
                                      Address(&LackingGetProcAddress));
    g_real_load = load.original_as<decltype(&::LoadLibraryExW)>();
    g_real_free = free.original_as<decltype(&::FreeLibrary)>();
    g_real_get_proc_address = bind.original_as<decltype(&::GetProcAddress)>();
    for (const char* missing : {"NetUserGetLocalGroups", "NetApiBufferFree"}) {
        SCOPED_TRACE(missing);
        g_missing_entry = missing;
        g_error = ERROR_PROC_NOT_FOUND;
        g_loads = 0;
        g_frees = 0;
        {
            NetApiLibrary library;
            EXPECT_EQ(g_loads, 1);
            EXPECT_FALSE(library.loaded());
            EXPECT_EQ(library.get_local_groups(), nullptr);
            EXPECT_EQ(library.buffer_free(), nullptr);
            EXPECT_EQ(library.error(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
        }
        EXPECT_EQ(g_frees, 1);
    }
}

}  // namespace
