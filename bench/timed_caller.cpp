// timed_caller.exe: the sample caller's launch, timed from inside.
//
//   timed_caller.exe <record file> <program started as the launcher> <child> [arguments...]
//
// Like the sample caller it shows a window (the dialog's owner), sets the
// dialog texts, starts the program with "execute <own pid> <child> ...",
// and answers its window's messages while it waits. It writes to the record
// file the performance counter read just before CreateProcessW ("started=")
// and just after the wait ("ended="), the counter's frequency and the exit
// code, one "name=value" a line. The
// scripted credential dialog logs the same counter when it is shown, so the
// benchmark can tell the time to the dialog. Arguments are passed plain.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

long long Counter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

HWND CreateMainWindow() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"TimedCallerWindow";
    RegisterClassW(&window_class);
    HWND window = CreateWindowW(window_class.lpszClassName, L"Timed caller", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, nullptr, nullptr,
                                window_class.hInstance, nullptr);
    if (window) ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

void WaitPumpingMessages(HANDLE process) {
    while (MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    SetEnvironmentVariableW(L"AuthDialogCaption", L"Administrator rights are needed to continue");
    SetEnvironmentVariableW(L"EmptyPasswordRestrictionMessage",
                            L"This account needs a password to be used here.");
    HWND window = CreateMainWindow();
    std::wstring command_line = L"execute " + std::to_wstring(GetCurrentProcessId());
    for (int i = 3; i < argc; ++i) command_line += L" " + std::wstring(argv[i]);

    STARTUPINFOW startup_info{};
    startup_info.cb = sizeof(startup_info);
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    long long started = Counter();
    if (!CreateProcessW(argv[2], &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup_info, &process)) {
        return static_cast<int>(GetLastError());
    }
    CloseHandle(process.hThread);
    WaitPumpingMessages(process.hProcess);
    long long ended = Counter();
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    if (window) DestroyWindow(window);
    FILE* record = _wfopen(argv[1], L"w");
    if (!record) return 3;
    std::fprintf(record, "started=%lld\nended=%lld\nfrequency=%lld\nexit_code=%lu\n", started,
                 ended, static_cast<long long>(frequency.QuadPart), exit_code);
    std::fclose(record);
    return static_cast<int>(exit_code);
}
