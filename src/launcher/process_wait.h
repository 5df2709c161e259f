// Waiting for a started process to end.
#pragma once

#include <windows.h>

namespace launcher {

// Waits without limit and returns the process's exit code, or the Windows
// error of a failed wait or exit-code query (never 0 for a failure).
DWORD WaitForExitCode(HANDLE process);

}  // namespace launcher
