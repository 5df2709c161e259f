// Test starter: starts one program with an exact command line, waits for it
// and returns its exit code. The command line does not pass through any
// quoting of ours or Wine's: it is read from a file.
//
//   raw_starter.exe <request file> [refuse-dll-search | inject <dll>]
//
// The request file is UTF-8: its first line is the application name (an
// empty line passes NULL), and everything after the first line feed is the
// command line, byte for byte (no line feed is removed from its end).
// It prints "process_id=<id>" when the program has started and
// "exit_code=<code>" when it has ended, both in unsigned decimal, because a
// Unix parent sees only the low 8 bits of an exit status. If the program
// cannot be started, the exit code is 0xBAD00000 plus the error of
// CreateProcessW; without refuse-dll-search, a start that fails in Wine's
// own start-up of the new process is tried again first (see start_retry.h).
// With refuse-dll-search, the program's start-up restriction of the DLL
// search fails (see dll_search_refusal.h). With inject, the program is
// started suspended and <dll> is loaded into it before its own code runs
// (see dll_injection.h); a DLL that cannot be queued fails the start.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "dll_injection.h"
#include "dll_search_refusal.h"
#include "start_retry.h"
#include "text_files.h"

namespace {

constexpr DWORD kStartFailed = 0xBAD00000;

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

bool ReadFileBytes(const wchar_t* path, std::string& bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    testing_support::ReadRemainingBytes(file, bytes);
    CloseHandle(file);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::string request;
    const bool refuse_dll_search = argc == 3 && std::wcscmp(argv[2], L"refuse-dll-search") == 0;
    const wchar_t* inject = argc == 4 && std::wcscmp(argv[2], L"inject") == 0 ? argv[3] : nullptr;
    if ((argc != 2 && !refuse_dll_search && !inject) || !ReadFileBytes(argv[1], request)) {
        std::fwprintf(stderr,
                      L"usage: raw_starter <request file> [refuse-dll-search | inject <dll>]\n");
        return 2;
    }
    std::string::size_type line_end = request.find('\n');
    if (line_end == std::string::npos) line_end = request.size();
    std::wstring application = Utf8ToWide(request.substr(0, line_end));
    std::wstring command_line =
        line_end < request.size() ? Utf8ToWide(request.substr(line_end + 1)) : std::wstring();
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');

    const wchar_t* application_name = application.empty() ? nullptr : application.c_str();
    STARTUPINFOW startup_info{};
    startup_info.cb = sizeof(startup_info);
    PROCESS_INFORMATION process{};
    DWORD error = 0;
    bool started = false;
    if (refuse_dll_search) {
        started = testing_support::StartWithDllSearchRefused(application_name, writable.data(),
                                                             process, error);
    } else {
        started = testing_support::CreateProcessRetryingStartFailure(
            application_name, writable.data(), inject ? CREATE_SUSPENDED : 0, nullptr, nullptr,
            &startup_info, &process);
        if (!started) error = GetLastError();
    }
    if (started && inject) {
        error = testing_support::QueueDllLoad(process.hProcess, process.hThread, inject);
        if (error != 0) {
            std::fwprintf(stderr, L"raw_starter: could not load %ls into the program (%lu)\n",
                          inject, error);
            TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            return static_cast<int>(kStartFailed + error);
        }
        ResumeThread(process.hThread);
    }
    if (!started) {
        std::fwprintf(stderr, L"raw_starter: CreateProcessW failed with %lu\n", error);
        return static_cast<int>(kStartFailed + error);
    }
    std::printf("process_id=%lu\n", process.dwProcessId);
    std::fflush(stdout);
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = kStartFailed;
    CloseHandle(process.hProcess);
    std::printf("exit_code=%lu\n", exit_code);
    std::fflush(stdout);
    return static_cast<int>(exit_code);
}
