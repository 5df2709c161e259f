// CreateProcessW, tried again when Wine's start-up of the new process fails.
#pragma once

#include <windows.h>

namespace testing_support {

// CreateProcessW without inherited handles or security attributes. Under Wine the new process now
// and then dies before its start-up has finished, before any of its code ran: CreateProcessW then
// fails with ERROR_INTERNAL_ERROR. That start is tried again a few times, with a line on stderr
// each time so that a run's log shows it. Not for starts under the debugging API: events of a
// failed start could still reach the debugger.
BOOL CreateProcessRetryingStartFailure(const wchar_t* application, wchar_t* command_line,
                                       DWORD creation_flags, void* environment,
                                       const wchar_t* current_directory, STARTUPINFOW* startup_info,
                                       PROCESS_INFORMATION* process);

}  // namespace testing_support
