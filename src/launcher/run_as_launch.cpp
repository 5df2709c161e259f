#include "launcher/run_as_launch.h"

#include <cwchar>
#include <string>
#include <vector>

#include "launcher/account_check.h"
#include "launcher/credential_dialog.h"
#include "launcher/credentials.h"
#include "launcher/elevated_start.h"
#include "launcher/own_executable_path.h"
#include "launcher/process_wait.h"
#include "launcher/scope_guard.h"
#include "tarn/last_error.h"

namespace launcher {

namespace {

// Logon errors after which the user gets the dialog again.
bool IsRetryableLogonError(DWORD error) {
    return error >= ERROR_LOGON_FAILURE && error <= ERROR_ACCOUNT_DISABLED;
}

// One logon call; 0 when the process was started, else its Windows error.
// Application name, then command line, as CreateProcessW takes them.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
DWORD StartWithLogon(const Credentials& credentials, const wchar_t* application_name,
                     const wchar_t* command_line, PROCESS_INFORMATION& process_info) {
    // The system may write into the command line it is given.
    std::vector<wchar_t> writable_command_line(command_line,
                                               command_line + wcslen(command_line) + 1);
    wchar_t empty_desktop[] = L"";
    STARTUPINFOW startup_info{};
    startup_info.cb = sizeof(startup_info);
    startup_info.lpDesktop = empty_desktop;

    BOOL started = CreateProcessWithLogonW(
        credentials.user_name.c_str(), credentials.domain.c_str(), credentials.password.c_str(),
        LOGON_WITH_PROFILE, application_name, writable_command_line.data(), NORMAL_PRIORITY_CLASS,
        nullptr, nullptr, &startup_info, &process_info);
    return started ? ERROR_SUCCESS : tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
}

// A program that asks for elevation cannot be started by a logon call (740).
// This launcher starts itself under the same account instead, and that
// instance asks Windows to start the program elevated; its exit code is the
// program's.
DWORD StartElevatedStartInstance(const Credentials& credentials, DWORD owner_process_id,
                                 const wchar_t* command_line, PROCESS_INFORMATION& process_info) {
    std::wstring launcher_path;
    DWORD path_error = GetOwnExecutablePath(launcher_path);
    if (path_error != ERROR_SUCCESS) return path_error;
    std::wstring elevated_start = BuildElevatedStartCommandLine(owner_process_id, command_line);
    return StartWithLogon(credentials, launcher_path.c_str(), elevated_start.c_str(), process_info);
}

}  // namespace

// Application name, then command line: the order CreateProcessW takes them in.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
DWORD LaunchWithLogon(DWORD owner_process_id, const wchar_t* application_name,
                      const wchar_t* command_line) {
    const std::wstring caption = GetAuthDialogCaption();
    const std::wstring empty_password_message = GetEmptyPasswordRestrictionMessage();
    DWORD previous_error = ERROR_SUCCESS;

    for (;;) {
        Credentials credentials;
        DWORD dialog_result = PromptForCredentials(
            owner_process_id, caption, empty_password_message, previous_error, credentials);
        if (dialog_result != ERROR_SUCCESS) return dialog_result;

        if (!IsAdministratorAccount(credentials)) {
            previous_error = ERROR_MEMBER_NOT_IN_GROUP;
            credentials.Clear();
            continue;
        }

        PROCESS_INFORMATION process_info{};
        DWORD logon_error =
            StartWithLogon(credentials, application_name, command_line, process_info);
        bool elevating = logon_error == kElevationRequired;
        if (elevating) {
            logon_error = StartElevatedStartInstance(credentials, owner_process_id, command_line,
                                                     process_info);
        }
        // Nothing after the last logon call needs the password: erase it now
        // rather than keep it for as long as the child runs.
        credentials.Clear();

        if (logon_error != ERROR_SUCCESS) {
            // The account logged on a moment ago; a failure to start our own
            // instance ends the launch rather than asking again.
            if (!elevating && IsRetryableLogonError(logon_error)) {
                previous_error = logon_error;
                continue;
            }
            return logon_error;
        }

        auto close_process =
            MakeScopeGuard([&process_info] { CloseHandle(process_info.hProcess); });
        CloseHandle(process_info.hThread);
        return WaitForExitCode(process_info.hProcess);
    }
}

}  // namespace launcher
