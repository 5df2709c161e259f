#include "launcher/own_executable_path.h"

#include <gtest/gtest.h>

#include <string>

#include "import_patch.h"

namespace launcher_tests {
namespace {

// The path the scripted GetModuleFileNameW holds, and its failure.
std::wstring g_module_path;
DWORD g_module_error = 0;
int g_module_calls = 0;

// Behaves as the system does: a path that does not fit is cut to the buffer,
// terminated, and reported with the buffer's size.
DWORD WINAPI ScriptedGetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
    ++g_module_calls;
    if (g_module_error) {
        SetLastError(g_module_error);
        return 0;
    }
    if (g_module_path.size() < size) {
        g_module_path.copy(buffer, g_module_path.size());
        buffer[g_module_path.size()] = L'\0';
        return static_cast<DWORD>(g_module_path.size());
    }
    g_module_path.copy(buffer, size - 1);
    buffer[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

class OwnExecutablePathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_module_error = 0;
        g_module_calls = 0;
    }
    testing_support::ImportPatch patch_{"KERNEL32.dll", "GetModuleFileNameW",
                                        reinterpret_cast<const void*>(&ScriptedGetModuleFileNameW)};
};

TEST_F(OwnExecutablePathTest, PathsAroundAndBeyondMaxPathAreReadWhole) {
    for (std::size_t length : {1u, 259u, 260u, 261u, 700u, 32767u}) {
        g_module_path = L"C:\\" + std::wstring(length - 1, L'd');
        g_module_path.resize(length);
        std::wstring path;
        EXPECT_EQ(launcher::GetOwnExecutablePath(path), 0u) << length;
        EXPECT_EQ(path, g_module_path) << length;
    }
}

TEST_F(OwnExecutablePathTest, PathLongerThanAnyTheSystemGivesIsAFailure) {
    // 32,767 characters and the terminator are the most the system gives.
    for (std::size_t length : {32768u, 40000u}) {
        g_module_path.assign(length, L'd');
        g_module_calls = 0;
        std::wstring path;
        EXPECT_EQ(launcher::GetOwnExecutablePath(path),
                  static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER))
            << length;
        EXPECT_LT(g_module_calls, 10);
    }
}

TEST_F(OwnExecutablePathTest, FailureIsNeverSuccess) {
    std::wstring path;
    g_module_error = ERROR_ACCESS_DENIED;
    EXPECT_EQ(launcher::GetOwnExecutablePath(path), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace launcher_tests
