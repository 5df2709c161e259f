// Test helper: a process with hundreds of top-level windows, as the owner of
// the launcher's credential dialog.
//
//   window_crowd <report file> <windows per kind> [<launcher> <program>]
//
// Creates <windows per kind> windows of each kind, interleaved: visible
// unowned, invisible unowned and visible windows owned by the first visible
// one. It then finds, as the launcher is meant to, the first window of its own
// in EnumWindows order that is visible and has no owner. With a launcher, it
// starts it as "execute <own pid> <program>" (the launcher as application
// name), pumps messages until the launcher ends, and closes its windows.
// Appends to the report file (UTF-8), one "key=value" a line:
//   pid, windows (its own top-level windows as EnumWindows lists them),
//   visible_unowned, expected (the first visible unowned handle), last (the
//   visible unowned window listed last), and with a launcher exit_code or
//   start_error. Exit code 0, or 2 on wrong use or failure.
// windows.h has to come first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cwchar>
#include <string>
#include <vector>

#include "window_helpers.h"

namespace {

using testing_support::PumpMessages;
using testing_support::PumpMessagesFor;

constexpr wchar_t kWindowClass[] = L"WindowCrowd";

struct Census {
    unsigned windows = 0;
    unsigned visible_unowned = 0;
    HWND first = nullptr;
    HWND last = nullptr;
};

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM census_address) {
    auto* census = reinterpret_cast<Census*>(census_address);
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id != GetCurrentProcessId()) return TRUE;
    ++census->windows;
    if (GetWindow(window, GW_OWNER) == nullptr && IsWindowVisible(window)) {
        ++census->visible_unowned;
        if (!census->first) census->first = window;
        census->last = window;
    }
    return TRUE;
}

// Starts the launcher and pumps messages until it ends; its exit code, or
// 0xBAD00000 plus the error of CreateProcessW.
std::string RunLauncher(const wchar_t* launcher, const wchar_t* program) {
    std::wstring command_line =
        L"execute " + std::to_wstring(GetCurrentProcessId()) + L" \"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(launcher, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return "start_error=" + std::to_string(GetLastError()) + "\n";
    }
    CloseHandle(process.hThread);
    for (;;) {
        DWORD wait = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT);
        if (wait != WAIT_OBJECT_0 + 1) break;
        PumpMessages();
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    return "exit_code=" + std::to_string(exit_code) + "\n";
}

int Run(const wchar_t* report_path, unsigned per_kind, const wchar_t* launcher,
        const wchar_t* program) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    RegisterClassW(&window_class);

    std::vector<HWND> windows;
    HWND owner = nullptr;
    for (unsigned i = 0; i < per_kind * 3; ++i) {
        const unsigned kind = i % 3;
        HWND window = CreateWindowExW(
            0, kWindowClass, L"crowd", WS_OVERLAPPEDWINDOW, 10 + static_cast<int>(i % 50), 10, 120,
            60, kind == 2 ? owner : nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!window) break;
        windows.push_back(window);
        if (kind != 1) ShowWindow(window, SW_SHOWNOACTIVATE);
        if (!owner) owner = window;
    }
    // Let the display settle the stacking before the census.
    PumpMessagesFor(300);

    int status = 2;
    if (windows.size() == per_kind * 3) {
        Census census;
        EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&census));
        std::string report = "pid=" + std::to_string(GetCurrentProcessId()) + "\n" +
                             "windows=" + std::to_string(census.windows) + "\n" +
                             "visible_unowned=" + std::to_string(census.visible_unowned) + "\n" +
                             "expected=" + testing_support::HandleText(census.first) + "\n" +
                             "last=" + testing_support::HandleText(census.last) + "\n";
        if (launcher) report += RunLauncher(launcher, program);
        if (testing_support::WriteTextFile(report_path, report, true)) status = 0;
    }
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) DestroyWindow(*it);
    return status;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return 2;
    int status = 2;
    if (count == 3 || count == 5) {
        unsigned per_kind = static_cast<unsigned>(std::wcstoul(arguments[2], nullptr, 10));
        if (per_kind > 0) {
            status = Run(arguments[1], per_kind, count == 5 ? arguments[3] : nullptr,
                         count == 5 ? arguments[4] : nullptr);
        }
    }
    LocalFree(arguments);
    return status;
}
