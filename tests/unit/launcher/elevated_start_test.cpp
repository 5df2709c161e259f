#include "launcher/elevated_start.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <random>
#include <string>
#include <vector>

#include "fake_logon.h"
#include "import_patch.h"
#include "launcher/child_command_line.h"
#include "launcher/entry.h"

namespace launcher_tests {
namespace {

// What the shell was asked for, and how the scripted shell answers.
struct ShellStart {
    DWORD size = 0;
    ULONG mask = 0;
    HWND window = nullptr;
    std::wstring verb;
    std::wstring file;
    bool parameters_null = true;
    std::wstring parameters;
    std::wstring directory;
    int show = 0;
};

struct ShellScript {
    bool fail = false;
    DWORD error = 0;               // last error of a failure
    bool no_process = false;       // succeeds without a process handle
    DWORD exit_code = 0;           // of the started child
    HANDLE ended_child = nullptr;  // handed out again instead of a new child
};

std::vector<ShellStart> g_starts;
ShellScript g_script;
int g_boxes = 0;

std::wstring TextOrEmpty(const wchar_t* text) { return text ? text : L""; }

// A real child that ends at once with the chosen exit code; null if none started.
HANDLE StartChild(DWORD exit_code) {
    PROCESS_INFORMATION process{};
    if (!StartChildThatExitsWith(exit_code, &process)) return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

BOOL WINAPI FakeShellExecuteExW(SHELLEXECUTEINFOW* info) {
    ShellStart start;
    start.size = info->cbSize;
    start.mask = info->fMask;
    start.window = info->hwnd;
    start.verb = TextOrEmpty(info->lpVerb);
    start.file = TextOrEmpty(info->lpFile);
    start.parameters_null = info->lpParameters == nullptr;
    start.parameters = TextOrEmpty(info->lpParameters);
    start.directory = TextOrEmpty(info->lpDirectory);
    start.show = info->nShow;
    g_starts.push_back(start);
    if (g_script.fail) {
        SetLastError(g_script.error);
        return FALSE;
    }
    info->hProcess = nullptr;
    if (g_script.ended_child) {
        DuplicateHandle(GetCurrentProcess(), g_script.ended_child, GetCurrentProcess(),
                        &info->hProcess, 0, FALSE, DUPLICATE_SAME_ACCESS);
    } else if (!g_script.no_process) {
        info->hProcess = StartChild(g_script.exit_code);
    }
    return TRUE;
}

int WINAPI CountMessageBoxW(HWND, LPCWSTR, LPCWSTR, UINT) {
    ++g_boxes;
    return IDOK;
}
int WINAPI CountMessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
    ++g_boxes;
    return IDOK;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    int count = 0;
    LPWSTR* tokens = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> split(tokens, tokens + count);
    LocalFree(tokens);
    return split;
}

class ElevatedStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_starts.clear();
        g_script = ShellScript();
        g_boxes = 0;
    }

    // Runs the instance as the launcher's entry does, DLL search restricted.
    int Run(const std::wstring& command_line, bool dll_search_restricted = true) {
        return launcher::RunLauncher(command_line.c_str(), dll_search_restricted);
    }

    testing_support::ImportPatch shell_{"SHELL32.dll", "ShellExecuteExW",
                                        reinterpret_cast<const void*>(&FakeShellExecuteExW)};
    testing_support::ImportPatch box_w_{"USER32.dll", "MessageBoxW",
                                        reinterpret_cast<const void*>(&CountMessageBoxW)};
    testing_support::ImportPatch box_a_{"USER32.dll", "MessageBoxA",
                                        reinterpret_cast<const void*>(&CountMessageBoxA)};
};

TEST_F(ElevatedStartTest, AsksTheShellForAnElevatedStartInTheCurrentDirectory) {
    g_script.exit_code = 1602;
    EXPECT_EQ(Run(L"elevate 0 \"C:\\Program Files\\x\\setup.exe\" /quiet \"a b\""), 1602);
    ASSERT_EQ(g_starts.size(), 1u);
    const ShellStart& start = g_starts[0];
    EXPECT_EQ(start.size, sizeof(SHELLEXECUTEINFOW));
    EXPECT_EQ(start.mask,
              static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI));
    EXPECT_EQ(start.verb, L"runas");
    EXPECT_EQ(start.file, L"C:\\Program Files\\x\\setup.exe");
    EXPECT_EQ(start.parameters, L"/quiet \"a b\"");
    EXPECT_EQ(start.window, nullptr);  // owner 0: no window
    EXPECT_EQ(start.show, SW_SHOWNORMAL);
    wchar_t directory[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, directory);
    EXPECT_EQ(start.directory, std::wstring(directory, length));
    EXPECT_EQ(g_boxes, 0);
}

TEST_F(ElevatedStartTest, ProgramWithoutArgumentsGetsNoParameters) {
    EXPECT_EQ(Run(L"elevate 0 C:\\x\\setup.exe"), 0);
    ASSERT_EQ(g_starts.size(), 1u);
    EXPECT_TRUE(g_starts[0].parameters_null);
}

// The shell puts the quoted program before the parameters; the program's own
// split must give back the tokens it was sent, whatever they hold.
TEST_F(ElevatedStartTest, ArgumentsArriveExactlyForRandomTokenLists) {
    const wchar_t alphabet[] = L"ab X\t\\\\\"\"'-/\u00e9\u4e2d";
    std::mt19937 random(20261210);
    // One child that has ended serves every start: the lists cost no processes.
    g_script.ended_child = StartChild(0);
    ASSERT_NE(g_script.ended_child, nullptr);
    WaitForSingleObject(g_script.ended_child, INFINITE);
    for (int list = 0; list < 250; ++list) {
        std::vector<std::wstring> tokens{L"C:\\Program Files\\x\\setup.exe"};
        int count = static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) {
            std::wstring token;
            for (unsigned n = random() % 8; n > 0; --n) {
                token += alphabet[random() % (sizeof(alphabet) / sizeof(wchar_t) - 1)];
            }
            tokens.push_back(token);
        }
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& token : tokens) pointers.push_back(token.c_str());
        std::wstring line = L"elevate 0 " + launcher::BuildChildCommandLine(
                                                pointers.data(), static_cast<int>(pointers.size()));
        g_starts.clear();
        ASSERT_EQ(Run(line), 0) << list;
        ASSERT_EQ(g_starts.size(), 1u);
        std::wstring composed = L"\"" + g_starts[0].file + L"\" " + g_starts[0].parameters;
        ASSERT_EQ(SplitCommandLine(composed), tokens) << composed;
    }
    CloseHandle(g_script.ended_child);
}

TEST_F(ElevatedStartTest, ShellFailuresAreTheExitCode) {
    // 1223 is a declined consent; a failure that leaves no error is never 0.
    for (DWORD error : {1223ul, 2ul, 1155ul, 0ul}) {
        g_script.fail = true;
        g_script.error = error;
        EXPECT_EQ(Run(L"elevate 0 C:\\x\\setup.exe"),
                  static_cast<int>(error ? error : ERROR_INTERNAL_ERROR));
    }
    EXPECT_EQ(g_boxes, 0);
}

TEST_F(ElevatedStartTest, StartWithoutAProcessToWaitForIsNeverSuccess) {
    g_script.no_process = true;
    EXPECT_EQ(Run(L"elevate 0 C:\\x\\setup.exe"), ERROR_INVALID_HANDLE);
}

TEST_F(ElevatedStartTest, MalformedCommandLineStartsNothing) {
    const wchar_t* lines[] = {
        L"elevate",
        L"elevate 0",
        L"elevate 12x C:\\x\\a.exe",
        L"elevate -1 C:\\a",
        L"elevate +1 C:\\a",
        L"elevate 4294967296 C:\\a",
        L"elevate \"\" C:\\a",
        L"elevate 0 \"\"",
        L"elevate 00000000001 C:\\a",
    };
    for (const wchar_t* line : lines) {
        EXPECT_EQ(Run(line), static_cast<int>(launcher::kElevatedStartMalformed)) << line;
    }
    EXPECT_TRUE(g_starts.empty());
    EXPECT_EQ(g_boxes, 0);
}

TEST_F(ElevatedStartTest, LargestProcessIdIsAccepted) {
    EXPECT_EQ(Run(L"elevate 4294967295 C:\\x\\setup.exe"), 0);
    EXPECT_EQ(g_starts.size(), 1u);
}

TEST_F(ElevatedStartTest, UnrestrictedDllSearchStartsNothing) {
    EXPECT_EQ(Run(L"elevate 0 C:\\x\\setup.exe", false),
              static_cast<int>(launcher::kElevatedStartUnsafeDllSearch));
    EXPECT_TRUE(g_starts.empty());
    EXPECT_EQ(g_boxes, 0);
}

// The current directory as the system reports it: fails, or grows between
// the size query and the read.
int g_directory_calls = 0;
// Fails the size query only: what follows it must not be reached.
DWORD WINAPI FailingCurrentDirectory(DWORD size, LPWSTR buffer) {
    if (++g_directory_calls > 1) return GetCurrentDirectoryW(size, buffer);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}
DWORD WINAPI GrowingCurrentDirectory(DWORD size, LPWSTR) {
    ++g_directory_calls;
    return size + 8;  // not written: it has grown since it was measured
}

TEST_F(ElevatedStartTest, CurrentDirectoryThatCannotBeReadStartsNothing) {
    {
        testing_support::ImportPatch directory(
            "KERNEL32.dll", "GetCurrentDirectoryW",
            reinterpret_cast<const void*>(&FailingCurrentDirectory));
        EXPECT_EQ(Run(L"elevate 0 C:\\x\\setup.exe"), ERROR_ACCESS_DENIED);
    }
    {
        testing_support::ImportPatch directory(
            "KERNEL32.dll", "GetCurrentDirectoryW",
            reinterpret_cast<const void*>(&GrowingCurrentDirectory));
        EXPECT_EQ(Run(L"elevate 0 C:\\x\\setup.exe"), ERROR_INSUFFICIENT_BUFFER);
    }
    EXPECT_EQ(g_directory_calls, 3);
    EXPECT_TRUE(g_starts.empty());
    EXPECT_EQ(g_boxes, 0);
}

LPWSTR* WINAPI UnsplittableCommandLine(LPCWSTR, int* count) {
    *count = 3;  // what the system leaves there is no promise
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(ElevatedStartTest, CommandLineThatCannotBeSplitIsNoElevatedStart) {
    // Neither reading of the line may use tokens that are not there.
    testing_support::ImportPatch split("SHELL32.dll", "CommandLineToArgvW",
                                       reinterpret_cast<const void*>(&UnsplittableCommandLine));
    EXPECT_EQ(Run(L"elevate 0 C:\\x\\setup.exe"), launcher::kExitFailureShown);
    EXPECT_TRUE(g_starts.empty());
    EXPECT_EQ(g_boxes, 1);
}

TEST_F(ElevatedStartTest, VerbIsExact) {
    // Another spelling is not the elevated start: the launcher's own checks
    // refuse it, with their box.
    EXPECT_EQ(Run(L"Elevate 0 C:\\x\\setup.exe"), launcher::kExitWrongVerb);
    EXPECT_TRUE(g_starts.empty());
    EXPECT_EQ(g_boxes, 1);
}

}  // namespace
}  // namespace launcher_tests
