// Test stand-in for the administrator's consent to an elevated start, which
// Wine has not got (its "runas" starts the program at once). The logon
// stand-in loads this DLL into the launcher instance that it starts for an
// elevated start, before any of that instance's code runs; loading it
// redirects the instance's import of ShellExecuteExW to ConsentStandIn below.
//
// Script (UTF-8, file named by STAND_IN_CONSENT_SCRIPT), one entry a line,
// used up one per call; once used up, or without a script, calls are accepted:
//   accept        the consent is given: the real ShellExecuteExW runs
//   decline       the consent is declined: fails with 1223 (ERROR_CANCELLED)
//   fail <error>  the start fails with <error> (decimal)
//
// Log (UTF-8, file named by STAND_IN_CONSENT_LOG), one JSON object a line:
//   {"event":"installed", "process_id", "command_line"}
//   {"event":"consent", "call", "process_id", "size", "mask", "window",
//    "verb", "file", "parameters", "directory" (strings or null), "show",
//    "outcome" ("accepted", "declined" or "failed"), "error",
//    "child_process_id" (0 unless accepted and started)}
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "import_patch.h"
#include "json_record.h"
#include "text_files.h"

namespace {

using testing_support::AppendRecord;
using testing_support::EnvironmentValue;
using testing_support::JsonString;

constexpr wchar_t kScriptVariable[] = L"STAND_IN_CONSENT_SCRIPT";
constexpr wchar_t kLogVariable[] = L"STAND_IN_CONSENT_LOG";

testing_support::ImportPatch* shell_start_patch = nullptr;
int call_count = 0;

std::string Number(unsigned long long value) { return std::to_string(value); }

// The script's entry for this call, or "accept" once the script is used up.
std::wstring ScriptEntry(int call) {
    std::wstring text;
    HANDLE file = CreateFileW(EnvironmentValue(kScriptVariable).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        std::string bytes;
        testing_support::ReadRemainingBytes(file, bytes);
        CloseHandle(file);
        text = testing_support::FromUtf8(bytes);
    }
    std::vector<std::wstring> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty()) entries.push_back(line);
        start = end + 1;
    }
    if (static_cast<size_t>(call) <= entries.size()) return entries[static_cast<size_t>(call) - 1];
    return L"accept";
}

std::string Describe(int call, const SHELLEXECUTEINFOW* info) {
    std::string record = "{\"event\":\"consent\",\"call\":" + Number(static_cast<unsigned>(call));
    record += ",\"process_id\":" + Number(GetCurrentProcessId());
    record += ",\"size\":" + Number(info->cbSize);
    record += ",\"mask\":" + Number(info->fMask);
    record += ",\"window\":" + Number(reinterpret_cast<ULONG_PTR>(info->hwnd));
    record += ",\"verb\":" + JsonString(info->lpVerb);
    record += ",\"file\":" + JsonString(info->lpFile);
    record += ",\"parameters\":" + JsonString(info->lpParameters);
    record += ",\"directory\":" + JsonString(info->lpDirectory);
    record += ",\"show\":" + Number(static_cast<unsigned>(info->nShow));
    return record;
}

BOOL Refuse(std::string record, const char* outcome, DWORD error) {
    record += std::string(",\"outcome\":\"") + outcome + "\",\"error\":" + Number(error) +
              ",\"child_process_id\":0}";
    AppendRecord(kLogVariable, record);
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI ConsentStandIn(SHELLEXECUTEINFOW* info) {
    int call = ++call_count;
    std::string record = Describe(call, info);
    std::wstring entry = ScriptEntry(call);
    if (entry == L"decline") return Refuse(record, "declined", ERROR_CANCELLED);
    if (entry.rfind(L"fail ", 0) == 0) {
        return Refuse(record, "failed",
                      static_cast<DWORD>(std::wcstoul(entry.c_str() + 5, nullptr, 10)));
    }
    BOOL started = shell_start_patch->original_as<decltype(&::ShellExecuteExW)>()(info);
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    DWORD child = started && info->hProcess ? GetProcessId(info->hProcess) : 0;
    record += ",\"outcome\":\"accepted\",\"error\":" + Number(error) +
              ",\"child_process_id\":" + Number(child) + "}";
    AppendRecord(kLogVariable, record);
    SetLastError(error);
    return started;
}

void Install() {
    try {
        // Never deleted: the patch stays for the life of the process.
        shell_start_patch = new testing_support::ImportPatch(
            "SHELL32.dll", "ShellExecuteExW", reinterpret_cast<const void*>(&ConsentStandIn));
    } catch (const std::exception& e) {
        AppendRecord(kLogVariable, std::string("{\"event\":\"install-failed\",\"reason\":") +
                                       JsonString(testing_support::FromUtf8(e.what())) + "}");
        return;
    }
    AppendRecord(kLogVariable,
                 "{\"event\":\"installed\",\"process_id\":" + Number(GetCurrentProcessId()) +
                     ",\"command_line\":" + JsonString(GetCommandLineW()) + "}");
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    // Loaded before the launcher's own code runs, its imports already bound.
    if (reason == DLL_PROCESS_ATTACH) Install();
    return TRUE;
}
