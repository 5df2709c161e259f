#include "launcher/entry.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>

#include "launcher/child_command_line.h"
#include "launcher/elevated_start.h"
#include "launcher/failure_text.h"
#include "launcher/run_as_launch.h"
#include "launcher/scope_guard.h"
#include "tarn/exception.h"

namespace launcher {

namespace {

constexpr wchar_t kVerb[] = L"execute";
constexpr int kMinimumTokens = 3;  // verb, owner process id, program

bool IsPassedThrough(DWORD result) {
    return result == ERROR_SUCCESS || result == kExitCancelled || result == kExitInstallUserExit;
}

int Run(const wchar_t* command_line, bool dll_search_restricted) {
    // Everything we load ourselves is loaded by full path, but the system
    // libraries load others by name. While the current directory (often the
    // folder an installer was downloaded to) is still searched, a planted
    // library could read the password: ask for none.
    if (!dll_search_restricted) throw std::runtime_error("Failed to restrict the DLL search path");
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(command_line, &argc);
    auto argv_guard = MakeScopeGuard([argv] { LocalFree(argv); });

    if (!argv || argc < kMinimumTokens) throw std::runtime_error("Unable to parse command line");
    if (std::wcscmp(argv[0], kVerb) != 0) {
        throw std::invalid_argument("Invalid argument (command type)");
    }
    // Trailing text is ignored and text without digits gives 0 ("no owner").
    DWORD owner_process_id = std::wcstoul(argv[1], nullptr, 10);
    std::wstring child_command_line = BuildChildCommandLine(argv + 2, argc - 2);

    DWORD result = LaunchWithLogon(owner_process_id, argv[2], child_command_line.c_str());
    if (IsPassedThrough(result)) return static_cast<int>(result);
    ThrowLaunchFailure(result);
}

}  // namespace

int RunLauncher(const wchar_t* command_line, bool dll_search_restricted) {
    // The instance that starts a program elevated shows nothing: its exit
    // code, which the launcher that started it reads, says everything.
    if (IsElevatedStartRequest(command_line)) {
        try {
            return static_cast<int>(RunElevatedStart(command_line, dll_search_restricted));
        } catch (const std::bad_alloc&) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    try {
        return Run(command_line, dll_search_restricted);
    } catch (const tarn::ResultCodeException& e) {
        try {
            std::wstring text = L"Failed to load credui.dll: ";
            AppendExceptionText(text, e);
            MessageBoxW(nullptr, text.c_str(), L"Error", MB_ICONERROR);
        } catch (const std::bad_alloc&) {
            MessageBoxA(nullptr, "Failed to load credui.dll", "Error", MB_ICONERROR);
        }
        return kExitFailureShown;
    } catch (const std::invalid_argument& e) {
        MessageBoxA(nullptr, e.what(), "Error", MB_ICONERROR);
        return kExitWrongVerb;
    } catch (const std::exception& e) {
        MessageBoxA(nullptr, e.what(), "Error", MB_ICONERROR);
        return kExitFailureShown;
    }
}

}  // namespace launcher
