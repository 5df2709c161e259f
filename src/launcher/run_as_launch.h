// The run-as loop: prompt, check the account, start the program under it,
// wait, and return its exit code (or a Windows error code).
#pragma once

#include <windows.h>

namespace launcher {

// Returns the child's exit code, 1223 when the user cancelled the dialog, or
// the Windows error code of a failed dialog, logon or wait. Set-up failures
// are thrown.
DWORD LaunchWithLogon(DWORD owner_process_id, const wchar_t* application_name,
                      const wchar_t* command_line);

}  // namespace launcher
