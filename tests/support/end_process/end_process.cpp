// Test helper: ends another process from outside, as a user or another
// program would, with an exit code of the test's choosing.
//
//   end_process <exit code> <process id> [...]
//
// Numbers are decimal or 0x-hex. Anything after the process id is ignored:
// the credential-dialog stand-in's prompt hook appends its own process id.
// Exit code 0 once the process has ended, else the error that stopped it.
#include <windows.h>

#include <cwchar>

namespace {

DWORD ParseNumber(const wchar_t* text) {
    bool hex = text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    return static_cast<DWORD>(std::wcstoul(text, nullptr, hex ? 16 : 10));
}

DWORD EndProcess(DWORD process_id, DWORD exit_code) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process_id);
    if (!process) return GetLastError();
    DWORD error = ERROR_SUCCESS;
    if (!TerminateProcess(process, exit_code)) {
        error = GetLastError();
    } else if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) {
        error = WAIT_TIMEOUT;
    }
    CloseHandle(process);
    return error;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return ERROR_BAD_ARGUMENTS;
    return static_cast<int>(EndProcess(ParseNumber(argv[2]), ParseNumber(argv[1])));
}
