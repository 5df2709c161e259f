// pass_through.exe, started like the launcher ("execute <owner pid> <program>
// [arguments...]"): starts the program, waits, and returns its exit code;
// nothing else. The launch-overhead benchmark compares the launcher with it.
// Arguments are simply quoted: the benchmark passes plain ones.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    std::wstring command_line;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) command_line += L' ';
        command_line += L'"';
        command_line += argv[i];
        command_line += L'"';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[2], &command_line[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process)) {
        return static_cast<int>(GetLastError());
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}
