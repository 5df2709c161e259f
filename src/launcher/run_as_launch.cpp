#include "launcher/run_as_launch.h"

#include <cwchar>
#include <string>
#include <vector>

#include "launcher/account_check.h"
#include "launcher/credential_dialog.h"
#include "launcher/credentials.h"
#include "launcher/scope_guard.h"
#include "tarn/last_error.h"

namespace launcher {

namespace {

// Logon errors after which the user gets the dialog again.
bool IsRetryableLogonError(DWORD error) {
    return error >= ERROR_LOGON_FAILURE && error <= ERROR_ACCOUNT_DISABLED;
}

DWORD WaitForExitCode(HANDLE process) {
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) {
        return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process, &exit_code)) return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    return exit_code;
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

        // The system may write into the command line it is given.
        std::vector<wchar_t> writable_command_line(command_line,
                                                   command_line + wcslen(command_line) + 1);

        wchar_t empty_desktop[] = L"";
        STARTUPINFOW startup_info{};
        startup_info.cb = sizeof(startup_info);
        startup_info.lpDesktop = empty_desktop;
        PROCESS_INFORMATION process_info{};

        BOOL started = CreateProcessWithLogonW(
            credentials.user_name.c_str(), credentials.domain.c_str(), credentials.password.c_str(),
            LOGON_WITH_PROFILE, application_name, writable_command_line.data(),
            NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup_info, &process_info);
        DWORD logon_error = started ? ERROR_SUCCESS : tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
        // Nothing after the logon needs the password: erase it now rather
        // than keep it for as long as the child runs.
        credentials.Clear();

        if (!started) {
            if (IsRetryableLogonError(logon_error)) {
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
