// Test child: records how it was started and ends with a chosen exit code.
//
// Appends one JSON line to the file named by PROBE_LOG (UTF-8):
//   {"command_line": raw GetCommandLineW text,
//    "shell_tokens": the tokens of CommandLineToArgvW,
//    "runtime_argv": the C runtime's argv of wmain,
//    "user": GetUserNameW, "computer": GetComputerNameW, "process_id": n,
//    "current_directory": text}
// PROBE_SLEEP_MS (decimal) delays the exit, and a second line
// {"event":"woke","process_id":n} follows the sleep; PROBE_CRASH (any value)
// then ends the probe with an unhandled access violation; else
// PROBE_EXIT_CODE (decimal or 0x...; default 0) is the exit code, passed to
// ExitProcess unchanged so that status values such as 0xC0000005 come out
// exactly.
// The other system headers need windows.h first.
// clang-format off
#include <windows.h>
#include <lmcons.h>
#include <shellapi.h>
// clang-format on

#include <cwchar>
#include <string>

#include "json_record.h"

namespace {

using testing_support::AppendRecord;
using testing_support::EnvironmentValue;
using testing_support::JsonString;

std::string JsonArray(int count, const wchar_t* const* tokens) {
    std::string json = "[";
    for (int i = 0; i < count; ++i) {
        if (i > 0) json += ",";
        json += JsonString(tokens[i]);
    }
    return json + "]";
}

std::string ShellTokens(const wchar_t* command_line) {
    int count = 0;
    LPWSTR* tokens = CommandLineToArgvW(command_line, &count);
    if (!tokens) return "null";
    std::string json = JsonArray(count, tokens);
    LocalFree(tokens);
    return json;
}

std::wstring UserName() {
    wchar_t name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(name, &size)) return std::wstring();
    return name;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return std::wstring();
    return name;
}

std::wstring CurrentDirectory() {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return std::wstring();
    std::wstring directory(needed, L'\0');
    DWORD written = GetCurrentDirectoryW(needed, &directory[0]);
    directory.resize(written < needed ? written : 0);
    return directory;
}

DWORD ParseNumber(const std::wstring& text) {
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, hex ? 16 : 10));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* command_line = GetCommandLineW();
    std::string record = "{\"command_line\":" + JsonString(command_line);
    record += ",\"shell_tokens\":" + ShellTokens(command_line);
    record += ",\"runtime_argv\":" + JsonArray(argc, argv);
    record += ",\"user\":" + JsonString(UserName());
    record += ",\"computer\":" + JsonString(ComputerName());
    record += ",\"process_id\":" + std::to_string(GetCurrentProcessId());
    record += ",\"current_directory\":" + JsonString(CurrentDirectory());
    record += "}";
    AppendRecord(L"PROBE_LOG", record);

    std::wstring sleep = EnvironmentValue(L"PROBE_SLEEP_MS");
    if (!sleep.empty()) {
        Sleep(ParseNumber(sleep));
        AppendRecord(L"PROBE_LOG", "{\"event\":\"woke\",\"process_id\":" +
                                       std::to_string(GetCurrentProcessId()) + "}");
    }
    if (!EnvironmentValue(L"PROBE_CRASH").empty()) {
        RaiseException(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), 0, 0, nullptr);
    }
    ExitProcess(ParseNumber(EnvironmentValue(L"PROBE_EXIT_CODE")));
    return 0;
}
