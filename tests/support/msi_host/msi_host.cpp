// Test installer front end: installs a Windows Installer package in its own
// process, with PROGRAM_ARGS set exactly (no command line parses it), with no
// user interface or with the installer's full one owned by a window of its own.
//
//   msi_host <package> <arguments file> <none|full> <log file>
//
// The arguments file holds PROGRAM_ARGS's value in UTF-8, byte for byte.
// With "full" it shows a top-level window and keeps pumping its messages while
// a worker thread installs. It prints "window=<handle>" (unsigned decimal)
// and returns the installation's result (0, 1602, 1603...), or 2 on wrong use.
// windows.h has to come first.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <cstdio>
#include <cwchar>
#include <string>

#include "text_files.h"
#include "window_helpers.h"

namespace {

struct Installation {
    const wchar_t* package;
    std::wstring arguments;
    UINT result = ERROR_INSTALL_FAILURE;
};

DWORD WINAPI Install(void* installation_address) {
    auto* installation = static_cast<Installation*>(installation_address);
    MSIHANDLE package = 0;
    installation->result = MsiOpenPackageW(installation->package, &package);
    if (installation->result != ERROR_SUCCESS) return 0;
    installation->result =
        MsiSetPropertyW(package, L"PROGRAM_ARGS", installation->arguments.c_str());
    if (installation->result == ERROR_SUCCESS)
        installation->result = MsiDoActionW(package, L"INSTALL");
    MsiCloseHandle(package);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::string arguments;
    bool full = argc == 5 && std::wcscmp(argv[3], L"full") == 0;
    HANDLE file = argc == 5 ? CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                            : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE || (!full && std::wcscmp(argv[3], L"none") != 0)) {
        std::fwprintf(stderr, L"usage: msi_host <package> <arguments file> <none|full> <log>\n");
        return 2;
    }
    testing_support::ReadRemainingBytes(file, arguments);
    CloseHandle(file);

    HWND window = nullptr;
    if (full) {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"MsiHost";
        RegisterClassW(&window_class);
        window = CreateWindowExW(0, L"MsiHost", L"Installer host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr,
                                 window_class.hInstance, nullptr);
        if (!window) return 2;
        testing_support::PumpMessages();
    }
    std::printf("window=%s\n", testing_support::HandleText(window).c_str());
    std::fflush(stdout);
    MsiSetInternalUI(full ? INSTALLUILEVEL_FULL : INSTALLUILEVEL_NONE, full ? &window : nullptr);
    MsiEnableLogW(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR |
                      INSTALLLOGMODE_ACTIONSTART,
                  argv[4], 0);

    Installation installation{argv[1], testing_support::FromUtf8(arguments)};
    HANDLE worker = CreateThread(nullptr, 0, Install, &installation, 0, nullptr);
    if (!worker) return 2;
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
        testing_support::PumpMessages();
    }
    CloseHandle(worker);
    if (window) DestroyWindow(window);
    return static_cast<int>(installation.result);
}
