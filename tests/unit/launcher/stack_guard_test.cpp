// The launcher's stack guard, through a probe program linked with it: the
// guard is random for every process, and a smashed stack ends the process
// with the system's own status.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kDefaultGuard = 0x2F6A1C5Du;  // the guard's value before it is set
constexpr DWORD kNotFinished = 0xFFFFFFFFu;

std::wstring ProbePath() {
    wchar_t own_path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    std::wstring path(own_path, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"stack_guard_probe.exe";
}

DWORD RunProbe(const wchar_t* request) {
    const std::wstring probe = ProbePath();
    std::wstring command_line = L"\"" + probe + L"\" " + request;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(probe.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start the probe, error " << GetLastError();
        return kNotFinished;
    }
    CloseHandle(process.hThread);
    DWORD exit_code = kNotFinished;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &exit_code)) {
        TerminateProcess(process.hProcess, kNotFinished);
        ADD_FAILURE() << "the probe did not end";
    }
    CloseHandle(process.hProcess);
    return exit_code;
}

TEST(StackGuard, IsRandomInEveryProcess) {
    const DWORD first = RunProbe(L"guard");
    const DWORD second = RunProbe(L"guard");
    EXPECT_NE(first, kDefaultGuard);
    EXPECT_NE(second, kDefaultGuard);
    EXPECT_NE(first, second);
}

TEST(StackGuard, SmashedStackEndsTheProcessWithStackBufferOverrun) {
    EXPECT_EQ(RunProbe(L"smash"), static_cast<DWORD>(STATUS_STACK_BUFFER_OVERRUN));
}

}  // namespace
