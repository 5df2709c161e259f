// The launcher's entry: the command-line protocol, the launch, and the
// display of failures. Returns the process exit code.
#pragma once

namespace launcher {

// Exit codes besides the child's own.
constexpr int kExitCancelled = 1223;        // ERROR_CANCELLED
constexpr int kExitInstallUserExit = 1602;  // ERROR_INSTALL_USEREXIT
constexpr int kExitWrongVerb = 87;          // ERROR_INVALID_PARAMETER
constexpr int kExitFailureShown = 1064;     // ERROR_EXCEPTION_IN_SERVICE

int RunLauncher(const wchar_t* command_line);

}  // namespace launcher
