// Starts a program whose start-up restriction of the DLL search cannot work.
#pragma once

#include <windows.h>

namespace testing_support {

// Starts the program under the debugging API and stops it at its entry point,
// where its imports are bound and none of its own constructors has run. There
// its imports of GetProcAddress and SetDllDirectoryW are pointed at code that
// returns 0 (no function found, the call failed); then the program runs on,
// detached. False with the error of the call that failed.
bool StartWithDllSearchRefused(const wchar_t* application, wchar_t* command_line,
                               PROCESS_INFORMATION& process, DWORD& error);

}  // namespace testing_support
