#include "fake_logon.h"

#include <string>

namespace launcher_tests {

namespace {

struct State {
    std::deque<LogonResult> results;
    std::vector<LogonCall> calls;
};
State* g_state = nullptr;

BOOL WINAPI FakeCreateProcessWithLogonW(LPCWSTR user, LPCWSTR domain, LPCWSTR password,
                                        DWORD logon_flags, LPCWSTR application, LPWSTR command,
                                        DWORD creation_flags, LPVOID environment,
                                        LPCWSTR current_directory, LPSTARTUPINFOW startup,
                                        LPPROCESS_INFORMATION process_info) {
    LogonCall call;
    call.user_name = user ? user : L"";
    call.domain_is_null = domain == nullptr;
    call.domain = domain ? domain : L"";
    call.password = password ? password : L"";
    call.logon_flags = logon_flags;
    call.application_name = application ? application : L"";
    call.command_line = command ? command : L"";
    call.command_line_pointer = command;
    call.creation_flags = creation_flags;
    call.environment = environment;
    call.current_directory = current_directory;
    call.startup_cb = startup->cb;
    call.desktop_is_null = startup->lpDesktop == nullptr;
    call.desktop = startup->lpDesktop ? startup->lpDesktop : L"";
    g_state->calls.push_back(call);

    LogonResult result{true, ERROR_LOGON_FAILURE, 0};
    if (!g_state->results.empty()) {
        result = g_state->results.front();
        g_state->results.pop_front();
    }
    if (result.fail) {
        SetLastError(result.error);
        return FALSE;
    }
    BOOL started = StartChildThatExitsWith(result.exit_code, process_info);
    if (started) {
        g_state->calls.back().process = process_info->hProcess;
        g_state->calls.back().thread = process_info->hThread;
    }
    return started;
}

}  // namespace

BOOL StartChildThatExitsWith(DWORD exit_code, LPPROCESS_INFORMATION process_info) {
    wchar_t system_dir[MAX_PATH];
    GetSystemDirectoryW(system_dir, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(system_dir) + L"\\cmd.exe\" /c exit " +
                           std::to_wstring(static_cast<long>(exit_code));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, process_info);
}

FakeLogon::FakeLogon() {
    g_state = new State();
    patch_ = std::make_unique<testing_support::ImportPatch>(
        "ADVAPI32.dll", "CreateProcessWithLogonW",
        reinterpret_cast<const void*>(&FakeCreateProcessWithLogonW));
}

FakeLogon::~FakeLogon() {
    patch_.reset();
    delete g_state;
    g_state = nullptr;
}

const std::vector<LogonCall>& FakeLogon::calls() const { return g_state->calls; }

std::deque<LogonResult>& FakeLogon::results() { return g_state->results; }

}  // namespace launcher_tests
