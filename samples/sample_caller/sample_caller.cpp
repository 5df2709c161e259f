// Sample caller: how an installer starts a program under an administrator
// account through the launcher.
//
//   sample_caller.exe <path of launcher.exe> <program> [arguments...]
//
// It shows a window of its own (the credential dialog is owned by it), sets
// the dialog texts unless its environment already has them, starts the
// launcher with "execute <own pid> <program> <arguments...>", keeps its
// window responsive while it waits, and returns the launcher's exit code.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Quotes one token so that CommandLineToArgvW gives it back unchanged.
std::wstring Quote(const std::wstring& token) {
    if (!token.empty() && token.find_first_of(L" \t\n\v\"") == std::wstring::npos) return token;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : token) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

void SetDefaultVariable(const wchar_t* name, const wchar_t* value) {
    if (GetEnvironmentVariableW(name, nullptr, 0) == 0) SetEnvironmentVariableW(name, value);
}

HWND CreateMainWindow() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"SampleInstallerWindow";
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&window_class);
    HWND window = CreateWindowW(window_class.lpszClassName, L"Sample installer",
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480, 320,
                                nullptr, nullptr, window_class.hInstance, nullptr);
    if (window) ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

// Waits for the process while answering the messages of our window: the
// dialog that it owns sends it messages and must not wait on us.
void WaitPumpingMessages(HANDLE process) {
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: sample_caller <launcher.exe> <program> [arguments...]\n");
        return 2;
    }
    SetDefaultVariable(L"AuthDialogCaption", L"Administrator rights are needed to continue");
    SetDefaultVariable(L"EmptyPasswordRestrictionMessage",
                       L"This account needs a password to be used here.");

    HWND window = CreateMainWindow();

    std::wstring command_line = L"execute " + std::to_wstring(GetCurrentProcessId());
    for (int i = 2; i < argc; ++i) command_line += L" " + Quote(argv[i]);

    STARTUPINFOW startup_info{};
    startup_info.cb = sizeof(startup_info);
    PROCESS_INFORMATION process{};
    // The launcher is named as the application, so token 0 is the verb.
    if (!CreateProcessW(argv[1], &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup_info, &process)) {
        DWORD error = GetLastError();
        std::fwprintf(stderr, L"cannot start %ls: error %lu\n", argv[1], error);
        return static_cast<int>(error);
    }
    CloseHandle(process.hThread);
    WaitPumpingMessages(process.hProcess);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    if (window) DestroyWindow(window);
    return static_cast<int>(exit_code);
}
