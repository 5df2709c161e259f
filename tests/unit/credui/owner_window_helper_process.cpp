#include "owner_window_helper_process.h"

#include <cstdint>
#include <sstream>

#include "stand_in_session.h"

namespace credui_testing {

namespace {

std::wstring HelperPath() {
    wchar_t own_path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    std::wstring path(own_path, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"owner_window_helper.exe";
}

HWND WindowFromNumber(unsigned long long number) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(number));
}

}  // namespace

OwnerWindowHelperProcess::~OwnerWindowHelperProcess() {
    if (exit_) SetEvent(exit_);
    if (process_) {
        if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
        CloseHandle(process_);
    }
    if (ready_) CloseHandle(ready_);
    if (exit_) CloseHandle(exit_);
    if (!report_path_.empty()) DeleteFileW(report_path_.c_str());
}

bool OwnerWindowHelperProcess::Start(std::string& error) {
    static int started = 0;
    const std::wstring tag =
        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++started);
    const std::wstring ready_name = L"owner_window_helper_ready_" + tag;
    const std::wstring exit_name = L"owner_window_helper_exit_" + tag;
    ready_ = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
    exit_ = CreateEventW(nullptr, TRUE, FALSE, exit_name.c_str());
    report_path_ = TempFilePath(L"own");
    if (!ready_ || !exit_) {
        error = "cannot create events";
        return false;
    }

    const std::wstring helper = HelperPath();
    std::wstring command_line =
        L"\"" + helper + L"\" \"" + report_path_ + L"\" " + ready_name + L" " + exit_name;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(helper.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        error = "cannot start " + ToUtf8(helper) + ", error " + std::to_string(GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    process_id_ = process.dwProcessId;

    HANDLE waits[2] = {ready_, process_};
    DWORD wait = WaitForMultipleObjects(2, waits, FALSE, 60000);
    if (wait != WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        // The helper's exit code names the step that failed (see owner_window_helper.cpp).
        error = "helper not ready: wait " + std::to_string(wait) + ", exit code " +
                std::to_string(code);
        return false;
    }
    std::istringstream report(ReadFileBytes(report_path_));
    unsigned long long visible = 0, invisible = 0, owned = 0;
    if (!(report >> visible >> invisible >> owned)) {
        error = "unreadable helper report";
        return false;
    }
    visible_ = WindowFromNumber(visible);
    invisible_ = WindowFromNumber(invisible);
    owned_ = WindowFromNumber(owned);
    return true;
}

}  // namespace credui_testing
