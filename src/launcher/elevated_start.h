// The elevated start: when the program asks for elevation, which a logon call
// cannot give it, the launcher starts itself under the typed account with
//   elevate <owner process id> <program> <the program's arguments>
// and that instance asks Windows to start the program elevated (the
// administrator's consent prompt), waits for it and exits with its exit code.
// It never receives the password and shows no boxes of its own.
#pragma once

#include <windows.h>

#include <string>

namespace launcher {

constexpr wchar_t kElevatedStartVerb[] = L"elevate";

// ERROR_ELEVATION_REQUIRED, which not every SDK's headers name: the program
// asks for elevation, which a logon call cannot give while UAC is on.
constexpr DWORD kElevationRequired = 740;

// Exit codes of the elevated start besides the program's and the errors that
// the shell's start leaves.
constexpr DWORD kElevatedStartMalformed = ERROR_BAD_ARGUMENTS;          // 160
constexpr DWORD kElevatedStartUnsafeDllSearch = ERROR_DLL_INIT_FAILED;  // 1114

// The command line of the instance that starts the program elevated;
// `child_command_line` begins with the program, quoted where it needs quotes.
std::wstring BuildElevatedStartCommandLine(DWORD owner_process_id,
                                           const wchar_t* child_command_line);

// True when token 0 of the command line is the elevated start's verb.
bool IsElevatedStartRequest(const wchar_t* command_line) noexcept;

// Starts the program with the shell's "runas" verb in the current directory,
// owned by the owner process's window, waits for it and returns its exit
// code, or the shell's error (1223 when the consent was declined), or one of
// the two codes above before anything starts.
DWORD RunElevatedStart(const wchar_t* command_line, bool dll_search_restricted);

}  // namespace launcher
