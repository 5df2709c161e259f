// The launcher's stack-guard failure handler, through a probe program linked
// with it: a smashed stack ends the process with the system's own status.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kNotFinished = 0xFFFFFFFFu;

std::wstring ProbePath() {
    wchar_t own_path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    std::wstring path(own_path, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"stack_guard_probe.exe";
}

DWORD RunProbe() {
    const std::wstring probe = ProbePath();
    std::wstring command_line = L"\"" + probe + L"\"";
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

TEST(StackGuard, SmashedStackEndsTheProcessWithStackBufferOverrun) {
    EXPECT_EQ(RunProbe(), static_cast<DWORD>(STATUS_STACK_BUFFER_OVERRUN));
}

}  // namespace
