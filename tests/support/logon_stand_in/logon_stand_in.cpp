// Test stand-in for CreateProcessWithLogonW, which Wine cannot honour (it
// has no second account). The scripted credential dialog loads this DLL into
// the launcher's process and calls InstallLogonStandIn, which redirects the
// launcher's import of the function to LogonStandIn below.
//
// Script (UTF-8, file named by STAND_IN_LOGON_SCRIPT), one entry a line:
//   account <user>\t<domain>\t<password>   an account that logs on; the user
//                                          name is compared without case, a
//                                          domain of * matches any domain
//   fail <error>                           the next call fails with <error>
//                                          (decimal or 0x...)
//   fail-last-error-0                      the next call fails, last error 0
//   check                                  the next call is decided by the
//                                          account table
// The fail/check entries are used up one per call, in order; once they are
// used up, the account table decides: a name or password it does not hold
// fails with 1326 (ERROR_LOGON_FAILURE). As Windows does with UAC on, a call
// for a program whose manifest asks for elevation (requireAdministrator or
// highestAvailable) fails with 740 (ERROR_ELEVATION_REQUIRED) once the account
// is accepted. An accepted call starts the program for real with
// CreateProcessW(application name, command line, ...). When the program is
// the calling executable itself (the launcher's elevated start) and
// STAND_IN_CONSENT_DLL names a DLL, that DLL (the consent stand-in) is loaded
// into the new process before any of its code runs.
//
// Log (UTF-8, file named by STAND_IN_LOGON_LOG), one JSON object a line:
//   {"event":"logon", "call":n, "user", "domain", "password" (string or
//    null), "logon_flags", "application_name", "command_line",
//    "creation_flags", "environment_is_null", "current_directory_is_null",
//    "startup_info_is_null", "startup_info_cb", "desktop" (string or null),
//    "process_information_is_null", "outcome" ("started" or "failed"),
//    "error" (the last error left on failure), "child_process_id",
//    "consent_stand_in" (whether it was loaded into the child)}
//   {"event":"wait", "child_process_id", "password_left_in_memory"}: written
//    when the launcher starts waiting for the child; tells whether the
//    password that the launcher passed is still readable where it was.
// Every UTF-16 copy of a script password that this DLL makes is erased before
// its memory is released, so that scans of the launcher's memory find only the
// launcher's own copies.
#include <windows.h>

#include <cwchar>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "dll_injection.h"
#include "import_patch.h"
#include "json_record.h"
#include "start_retry.h"
#include "text_files.h"

namespace {

using testing_support::AppendRecord;
using testing_support::EnvironmentValue;
using testing_support::JsonBool;
using testing_support::JsonString;

constexpr wchar_t kScriptVariable[] = L"STAND_IN_LOGON_SCRIPT";
constexpr wchar_t kLogVariable[] = L"STAND_IN_LOGON_LOG";
constexpr wchar_t kConsentDllVariable[] = L"STAND_IN_CONSENT_DLL";
constexpr WORD kManifestResource = 24;     // RT_MANIFEST
constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED

void Erase(std::wstring& text) {
    if (!text.empty()) SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
}

struct Account {
    std::wstring user;
    std::wstring domain;
    std::wstring password;

    Account(std::wstring u, std::wstring d, std::wstring p)
        : user(std::move(u)), domain(std::move(d)), password(std::move(p)) {}
    Account(const Account&) = default;
    Account& operator=(const Account&) = default;
    ~Account() { Erase(password); }
};

enum class ForcedKind { kCheck, kFail, kFailLastErrorZero };

struct Forced {
    ForcedKind kind;
    DWORD error;
};

struct Script {
    std::vector<Account> accounts;
    std::vector<Forced> forced;
};

// State of this process's calls; the launcher has one thread.
int call_count = 0;
HANDLE started_process = nullptr;
const wchar_t* passed_password = nullptr;
std::wstring passed_password_copy;

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    testing_support::ReadRemainingBytes(file, bytes);
    CloseHandle(file);
    return bytes;
}

std::vector<std::wstring> SplitFields(const std::wstring& text) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = text.find(L'\t', start);
        fields.push_back(text.substr(start, tab == std::wstring::npos ? tab : tab - start));
        if (tab == std::wstring::npos) return fields;
        start = tab + 1;
    }
}

DWORD ParseError(const std::wstring& text) {
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, hex ? 16 : 10));
}

Script ReadScript() {
    Script script;
    std::wstring text = Utf8ToWide(ReadFileBytes(EnvironmentValue(kScriptVariable)));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.rfind(L"account ", 0) == 0) {
            std::wstring rest = line.substr(8);
            std::vector<std::wstring> fields = SplitFields(rest);
            fields.resize(3);
            script.accounts.emplace_back(fields[0], fields[1], fields[2]);
            Erase(rest);
            for (std::wstring& field : fields) Erase(field);
        } else if (line.rfind(L"fail ", 0) == 0) {
            script.forced.push_back({ForcedKind::kFail, ParseError(line.substr(5))});
        } else if (line == L"fail-last-error-0") {
            script.forced.push_back({ForcedKind::kFailLastErrorZero, 0});
        } else if (line == L"check") {
            script.forced.push_back({ForcedKind::kCheck, 0});
        }
        Erase(line);
    }
    Erase(text);
    return script;
}

bool SameTextIgnoringCase(const wchar_t* a, const std::wstring& b) {
    return CompareStringOrdinal(a, -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool AccountLogsOn(const Script& script, const wchar_t* user, const wchar_t* domain,
                   const wchar_t* password) {
    if (!user || !password) return false;
    for (const Account& account : script.accounts) {
        if (!SameTextIgnoringCase(user, account.user)) continue;
        if (account.domain != L"*" && !(domain && SameTextIgnoringCase(domain, account.domain))) {
            continue;
        }
        if (account.password == password) return true;
    }
    return false;
}

std::string Number(unsigned long long value) { return std::to_string(value); }

// Whether the program's manifest asks for elevation, which a logon start
// cannot give while UAC is on.
bool ManifestAsksForElevation(const wchar_t* application_name) {
    if (!application_name) return false;
    HMODULE image = LoadLibraryExW(application_name, nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!image) return false;
    bool asks = false;
    if (HRSRC found =
            FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(kManifestResource))) {
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
        if (bytes) {
            std::string manifest(bytes, SizeofResource(image, found));
            asks = manifest.find("\"requireAdministrator\"") != std::string::npos ||
                   manifest.find("\"highestAvailable\"") != std::string::npos;
        }
    }
    FreeLibrary(image);
    return asks;
}

bool IsThisExecutable(const wchar_t* application_name) {
    wchar_t own[4 * MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, own, ARRAYSIZE(own));
    return application_name && length > 0 && length < ARRAYSIZE(own) &&
           CompareStringOrdinal(application_name, -1, own, -1, TRUE) == CSTR_EQUAL;
}


std::string DescribeCall(int call, LPCWSTR user, LPCWSTR domain, LPCWSTR password,
                         DWORD logon_flags, LPCWSTR application_name, LPCWSTR command_line,
                         DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                         LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information) {
    std::string record = "{\"event\":\"logon\",\"call\":" + Number(static_cast<unsigned>(call));
    record += ",\"user\":" + JsonString(user);
    record += ",\"domain\":" + JsonString(domain);
    record += ",\"password\":" + JsonString(password);
    record += ",\"logon_flags\":" + Number(logon_flags);
    record += ",\"application_name\":" + JsonString(application_name);
    record += ",\"command_line\":" + JsonString(command_line);
    record += ",\"creation_flags\":" + Number(creation_flags);
    record += std::string(",\"environment_is_null\":") + JsonBool(environment == nullptr);
    record +=
        std::string(",\"current_directory_is_null\":") + JsonBool(current_directory == nullptr);
    record += std::string(",\"startup_info_is_null\":") + JsonBool(startup_info == nullptr);
    if (startup_info) {
        record += ",\"startup_info_cb\":" + Number(startup_info->cb);
        record += ",\"desktop\":" + JsonString(startup_info->lpDesktop);
    }
    record +=
        std::string(",\"process_information_is_null\":") + JsonBool(process_information == nullptr);
    return record;
}

BOOL Fail(std::string record, DWORD error) {
    record += ",\"outcome\":\"failed\",\"error\":" + Number(error) + "}";
    AppendRecord(kLogVariable, record);
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI LogonStandIn(LPCWSTR user, LPCWSTR domain, LPCWSTR password, DWORD logon_flags,
                         LPCWSTR application_name, LPWSTR command_line, DWORD creation_flags,
                         LPVOID environment, LPCWSTR current_directory, LPSTARTUPINFOW startup_info,
                         LPPROCESS_INFORMATION process_information) {
    int call = ++call_count;
    std::string record = DescribeCall(call, user, domain, password, logon_flags, application_name,
                                      command_line, creation_flags, environment, current_directory,
                                      startup_info, process_information);
    Script script = ReadScript();
    if (static_cast<size_t>(call) <= script.forced.size()) {
        const Forced& forced = script.forced[static_cast<size_t>(call) - 1];
        if (forced.kind == ForcedKind::kFail) return Fail(record, forced.error);
        if (forced.kind == ForcedKind::kFailLastErrorZero) return Fail(record, ERROR_SUCCESS);
    }
    if (!AccountLogsOn(script, user, domain, password)) return Fail(record, ERROR_LOGON_FAILURE);
    if (!process_information) return Fail(record, ERROR_INVALID_PARAMETER);
    if (ManifestAsksForElevation(application_name)) return Fail(record, kElevationRequired);

    const std::wstring consent_dll =
        IsThisExecutable(application_name) ? EnvironmentValue(kConsentDllVariable) : L"";
    const DWORD start_flags = creation_flags | (consent_dll.empty() ? 0 : CREATE_SUSPENDED);
    // The real call cannot meet Wine's failures to start a new process: they
    // are tried again rather than passed to the launcher as a logon error.
    if (!testing_support::CreateProcessRetryingStartFailure(
            application_name, command_line, start_flags, environment, current_directory,
            startup_info, process_information)) {
        return Fail(record, GetLastError());
    }
    if (!consent_dll.empty()) {
        // Loaded before any of the instance's own code runs.
        if (DWORD error = testing_support::QueueDllLoad(process_information->hProcess,
                                                        process_information->hThread,
                                                        consent_dll.c_str())) {
            TerminateProcess(process_information->hProcess, error);
            CloseHandle(process_information->hThread);
            CloseHandle(process_information->hProcess);
            return Fail(record, error);
        }
        if (!(creation_flags & CREATE_SUSPENDED)) ResumeThread(process_information->hThread);
    }
    record += std::string(",\"consent_stand_in\":") + JsonBool(!consent_dll.empty());
    started_process = process_information->hProcess;
    passed_password = password;
    passed_password_copy = password;
    record += ",\"outcome\":\"started\",\"error\":0,\"child_process_id\":" +
              Number(process_information->dwProcessId) + "}";
    AppendRecord(kLogVariable, record);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// True when any character of the password is still where the launcher kept
// it. Read with ReadProcessMemory, which fails cleanly on released pages.
bool PasswordLeftInMemory() {
    if (!passed_password || passed_password_copy.empty()) return false;
    std::wstring now(passed_password_copy.size(), L'\0');
    SIZE_T read = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), passed_password, &now[0],
                           now.size() * sizeof(wchar_t), &read) ||
        read != now.size() * sizeof(wchar_t)) {
        return false;
    }
    for (size_t i = 0; i < now.size(); ++i) {
        if (now[i] == passed_password_copy[i]) return true;
    }
    return false;
}

testing_support::ImportPatch* wait_patch = nullptr;

DWORD WINAPI WaitStandIn(HANDLE handle, DWORD milliseconds) {
    if (started_process && handle == started_process) {
        DWORD process_id = GetProcessId(handle);
        AppendRecord(kLogVariable,
                     "{\"event\":\"wait\",\"child_process_id\":" + Number(process_id) +
                         ",\"password_left_in_memory\":" + JsonBool(PasswordLeftInMemory()) + "}");
        SecureZeroMemory(&passed_password_copy[0], passed_password_copy.size() * sizeof(wchar_t));
        started_process = nullptr;
        passed_password = nullptr;
    }
    return wait_patch->original_as<decltype(&::WaitForSingleObject)>()(handle, milliseconds);
}

}  // namespace

// Redirects the main executable's imports of CreateProcessWithLogonW and
// WaitForSingleObject for the rest of the process's life; the module pins
// itself because the credential dialog that loads it is freed after each
// prompt.
extern "C" __declspec(dllexport) void WINAPI InstallLogonStandIn() {
    static bool installed = false;
    if (installed) return;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&InstallLogonStandIn), &self);
    try {
        // Never deleted: the patches stay for the life of the process.
        new testing_support::ImportPatch("ADVAPI32.dll", "CreateProcessWithLogonW",
                                         reinterpret_cast<const void*>(&LogonStandIn));
        wait_patch = new testing_support::ImportPatch("KERNEL32.dll", "WaitForSingleObject",
                                                      reinterpret_cast<const void*>(&WaitStandIn));
    } catch (const std::exception& e) {
        AppendRecord(kLogVariable, std::string("{\"event\":\"install-failed\",\"reason\":") +
                                       JsonString(Utf8ToWide(e.what())) + "}");
        return;
    }
    installed = true;
    AppendRecord(kLogVariable, "{\"event\":\"installed\"}");
}
