// The full path of the running executable.
#pragma once

#include <windows.h>

#include <string>

namespace launcher {

// Fills `path` and returns 0, or returns the Windows error of the failure.
// Paths longer than MAX_PATH are read whole.
DWORD GetOwnExecutablePath(std::wstring& path);

}  // namespace launcher
