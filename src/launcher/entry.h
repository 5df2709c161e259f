// The launcher's entry: the command-line protocol, the launch, and the
// display of failures. Returns the process exit code.
#pragma once

namespace launcher {

// Exit codes besides the child's own.
constexpr int kExitCancelled = 1223;        // ERROR_CANCELLED
constexpr int kExitInstallUserExit = 1602;  // ERROR_INSTALL_USEREXIT
constexpr int kExitWrongVerb = 87;          // ERROR_INVALID_PARAMETER
constexpr int kExitFailureShown = 1064;     // ERROR_EXCEPTION_IN_SERVICE

// `dll_search_restricted` says whether the library search order lost the
// current directory at start-up; without that the launcher asks for no
// password and shows why.
int RunLauncher(const wchar_t* command_line, bool dll_search_restricted);

}  // namespace launcher
