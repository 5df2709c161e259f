// CreateProcessW, tried again when Wine's start-up of the new process fails.
#pragma once

#include <windows.h>

namespace testing_support {

// Like CreateProcessW (no inherited handles, no environment or directory of
// its own). Under Wine the new process now and then dies before its start-up
// has finished, before any of its code ran: CreateProcessW then fails with
// ERROR_INTERNAL_ERROR. That start is tried again a few times, with a line on
// stderr each time so that a run's log shows it. Not for starts under the
// debugging API: events of a failed start could still reach the debugger.
BOOL CreateProcessRetryingStartFailure(const wchar_t* application, wchar_t* command_line,
                                       DWORD creation_flags, STARTUPINFOW& startup_info,
                                       PROCESS_INFORMATION& process);

}  // namespace testing_support
