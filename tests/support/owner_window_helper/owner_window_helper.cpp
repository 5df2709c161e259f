// Test helper: a process with three top-level windows, for tests of the search
// for a dialog's owner window.
//
//   owner_window_helper <report file> <ready event name> <exit event name>
//
// The events are created if the caller has not made them, so that a test
// can also start the helper by itself and end it from outside.
// Creates, in this order, a visible unowned window, an invisible unowned one
// and a visible window owned by the first. Creating them in this order lets
// the two decoys come first in an enumeration that lists the newest windows
// first. Writes "<visible> <invisible> <owned> <process id>\n" (unsigned
// decimal) to the report file, signals the ready event, and then pumps
// messages until the exit event is signalled. Exit code 0; 2 on wrong use;
// else the step that failed: 3 the exit event, 4 the windows, 5 the report,
// 6 the ready event.
// windows.h has to come first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <string>

#include "window_helpers.h"

namespace {

using testing_support::HandleText;
using testing_support::PumpMessages;
using testing_support::PumpMessagesFor;

constexpr wchar_t kWindowClass[] = L"OwnerWindowHelper";

HWND MakeWindow(const wchar_t* title, HWND owner, bool visible) {
    HWND window = CreateWindowExW(0, kWindowClass, title, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                  owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window && visible) ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

int Run(const wchar_t* report_path, const wchar_t* ready_name, const wchar_t* exit_name) {
    HANDLE exit_event = CreateEventW(nullptr, TRUE, FALSE, exit_name);
    if (!exit_event) return 3;
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    RegisterClassW(&window_class);

    HWND visible = MakeWindow(L"visible unowned", nullptr, true);
    HWND invisible = MakeWindow(L"invisible unowned", nullptr, false);
    HWND owned = visible ? MakeWindow(L"visible owned", visible, true) : nullptr;
    // The display may still restack the shown windows; once it has, put the
    // invisible window above the visible unowned one.
    PumpMessagesFor(300);
    if (invisible) {
        SetWindowPos(invisible, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    PumpMessagesFor(100);
    int status = 4;
    if (visible && invisible && owned) status = 5;
    if (status == 5 &&
        testing_support::WriteTextFile(report_path,
                                       HandleText(visible) + " " + HandleText(invisible) + " " +
                                           HandleText(owned) + " " +
                                           std::to_string(GetCurrentProcessId()) + "\n",
                                       false)) {
        status = 6;
        HANDLE ready_event = CreateEventW(nullptr, TRUE, FALSE, ready_name);
        if (ready_event) {
            SetEvent(ready_event);
            CloseHandle(ready_event);
            for (;;) {
                DWORD wait =
                    MsgWaitForMultipleObjects(1, &exit_event, FALSE, INFINITE, QS_ALLINPUT);
                if (wait != WAIT_OBJECT_0 + 1) break;
                PumpMessages();
            }
            status = 0;
        }
    }
    if (owned) DestroyWindow(owned);
    if (invisible) DestroyWindow(invisible);
    if (visible) DestroyWindow(visible);
    CloseHandle(exit_event);
    return status;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return 2;
    int status = count == 4 ? Run(arguments[1], arguments[2], arguments[3]) : 2;
    LocalFree(arguments);
    return status;
}
