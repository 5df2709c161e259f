// launch_floor.exe, started like the launcher ("execute <owner pid> <program>
// [arguments...]"): the system calls of one successful launch, in the
// launcher's order, and nothing else. No framework, no exceptions, no
// message boxes, fixed buffers; any failure returns its Windows error.
// The launch benchmark compares the launcher with it.
//
// Order: restrict the DLL search, split the command line, read both dialog
// texts, find the owner window, load credui.dll by full path and bind its
// entries, prompt, unpack (sizing, then data), free credui.dll and the
// answer, look up the account, build the Administrators and World SIDs,
// compare, look up the group's name, its domain and the user's name, ask
// netapi32.dll (by full path) for the user's local groups, log on, wait.
// Arguments are quoted only when they hold a blank: the benchmark passes
// plain ones.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincred.h>
// The network-management declarations need windows.h first.
#include <lm.h>

#include <cwchar>

namespace {

using PromptFn = decltype(&::CredUIPromptForWindowsCredentialsW);
using UnpackFn = decltype(&::CredUnPackAuthenticationBufferW);
using GetLocalGroupsFn = decltype(&::NetUserGetLocalGroups);
using BufferFreeFn = decltype(&::NetApiBufferFree);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

alignas(4) const BYTE kWorldSid[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
alignas(4) const BYTE kAdministratorsSid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
alignas(4) const BYTE kBuiltinDomainSid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0};

struct OwnerSearch {
    DWORD process_id;
    HWND window;
};

BOOL CALLBACK FindOwner(HWND window, LPARAM address) {
    auto* search = reinterpret_cast<OwnerSearch*>(address);
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id != search->process_id) return TRUE;
    if (GetWindow(window, GW_OWNER) != nullptr) return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    search->window = window;
    return FALSE;
}

DWORD ErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// The system directory with `name` appended; false if it does not fit.
bool SystemPath(const wchar_t* name, wchar_t* path, UINT capacity) {
    UINT length = GetSystemDirectoryW(path, capacity);
    std::size_t name_length = std::wcslen(name);
    if (length == 0 || length + 2 + name_length > capacity) return false;
    if (path[length - 1] != L'\\') path[length++] = L'\\';
    std::wmemcpy(path + length, name, name_length + 1);
    return true;
}

template <class Function>
Function Entry(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Copies the SID into `copy` as the account check does.
bool CopyOf(const void* sid, BYTE* copy) {
    PSID source = const_cast<void*>(sid);
    if (!IsValidSid(source)) return false;
    DWORD length = GetLengthSid(source);
    return CopySid(length, copy, source) != FALSE;
}

// LookupAccountNameW: a sizing call, then the data, copied into `sid`.
bool LookupName(const wchar_t* name, BYTE* sid) {
    alignas(4) BYTE found[SECURITY_MAX_SID_SIZE];
    DWORD sid_size = 0;
    DWORD domain_count = 0;
    SID_NAME_USE use = SidTypeUnknown;
    LookupAccountNameW(nullptr, name, found, &sid_size, nullptr, &domain_count, &use);
    wchar_t domain[256];
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || sid_size > SECURITY_MAX_SID_SIZE ||
        domain_count > 256) {
        return false;
    }
    return LookupAccountNameW(nullptr, name, found, &sid_size, domain, &domain_count, &use) &&
           CopyOf(found, sid);
}

// LookupAccountSidW: a sizing call, then the data.
bool LookupSid(PSID sid, wchar_t* name, wchar_t* domain) {
    if (!IsValidSid(sid)) return false;
    DWORD name_count = 0;
    DWORD domain_count = 0;
    SID_NAME_USE use = SidTypeUnknown;
    LookupAccountSidW(nullptr, sid, nullptr, &name_count, nullptr, &domain_count, &use);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || name_count > 256 || domain_count > 256) {
        return false;
    }
    return LookupAccountSidW(nullptr, sid, name, &name_count, domain, &domain_count, &use) != FALSE;
}

bool IsAdministrator(const wchar_t* user, const wchar_t* domain) {
    wchar_t account[520];
    if (domain[0] != L'\0') {
        std::swprintf(account, 520, L"%ls\\%ls", domain, user);
    } else {
        std::swprintf(account, 520, L"%ls", user);
    }
    alignas(4) BYTE user_sid[SECURITY_MAX_SID_SIZE];
    alignas(4) BYTE administrators[SECURITY_MAX_SID_SIZE];
    alignas(4) BYTE world[SECURITY_MAX_SID_SIZE];
    alignas(4) BYTE group_domain[SECURITY_MAX_SID_SIZE];
    alignas(4) BYTE builtin[SECURITY_MAX_SID_SIZE];
    if (!LookupName(account, user_sid) || !CopyOf(kAdministratorsSid, administrators)) {
        return false;
    }
    if (!IsValidSid(user_sid) || !IsValidSid(administrators)) return false;
    if (!CopyOf(kWorldSid, world) || EqualSid(administrators, world)) return false;

    wchar_t group_name[256];
    wchar_t group_domain_name[256];
    if (!LookupSid(administrators, group_name, group_domain_name)) return false;
    if (!LookupName(group_domain_name, group_domain) || !CopyOf(kBuiltinDomainSid, builtin) ||
        !EqualSid(group_domain, builtin)) {
        return false;
    }
    wchar_t user_name[256];
    wchar_t user_domain[256];
    if (!LookupSid(user_sid, user_name, user_domain)) return false;
    wchar_t qualified[520];
    std::swprintf(qualified, 520, L"%ls\\%ls", user_domain, user_name);

    wchar_t path[MAX_PATH];
    if (!SystemPath(L"netapi32.dll", path, MAX_PATH)) return false;
    HMODULE netapi = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!netapi) return false;
    auto get_local_groups = Entry<GetLocalGroupsFn>(netapi, "NetUserGetLocalGroups");
    auto buffer_free = Entry<BufferFreeFn>(netapi, "NetApiBufferFree");
    bool member = false;
    if (get_local_groups && buffer_free) {
        LOCALGROUP_USERS_INFO_0* groups = nullptr;
        DWORD read = 0;
        DWORD total = 0;
        if (get_local_groups(nullptr, qualified, 0, LG_INCLUDE_INDIRECT,
                             reinterpret_cast<LPBYTE*>(&groups), MAX_PREFERRED_LENGTH, &read,
                             &total) == NERR_Success) {
            for (DWORD i = 0; i < read && groups; ++i) {
                if (std::wcscmp(groups[i].lgrui0_name, group_name) == 0) member = true;
            }
        }
        if (groups) buffer_free(groups);
    }
    FreeLibrary(netapi);
    return member;
}

// Appends `token` to `line` at `length`, quoted when it holds a blank.
bool Append(wchar_t* line, std::size_t& length, std::size_t capacity, const wchar_t* token) {
    bool quote = token[0] == L'\0' || std::wcspbrk(token, L" \t\n\v") != nullptr;
    std::size_t token_length = std::wcslen(token);
    if (length + token_length + 4 > capacity) return false;
    if (length != 0) line[length++] = L' ';
    if (quote) line[length++] = L'"';
    std::wmemcpy(line + length, token, token_length);
    length += token_length;
    if (quote) line[length++] = L'"';
    line[length] = L'\0';
    return true;
}

DWORD Launch(int argc, wchar_t** argv) {
    if (argc < 3 || std::wcscmp(argv[0], L"execute") != 0) return ERROR_INVALID_PARAMETER;
    DWORD owner_process_id = std::wcstoul(argv[1], nullptr, 10);
    wchar_t command_line[1025];
    std::size_t length = 0;
    command_line[0] = L'\0';
    for (int i = 2; i < argc; ++i) {
        if (!Append(command_line, length, 1025, argv[i])) return ERROR_FILENAME_EXCED_RANGE;
    }

    wchar_t caption[1024];
    wchar_t message[1024];
    DWORD needed = GetEnvironmentVariableW(L"AuthDialogCaption", nullptr, 0);
    if (needed == 0 || needed > 1024) return ErrorOr(ERROR_ENVVAR_NOT_FOUND);
    GetEnvironmentVariableW(L"AuthDialogCaption", caption, needed);
    needed = GetEnvironmentVariableW(L"EmptyPasswordRestrictionMessage", nullptr, 0);
    message[0] = L'\0';
    if (needed != 0 && needed <= 1024) {
        GetEnvironmentVariableW(L"EmptyPasswordRestrictionMessage", message, needed);
    }

    OwnerSearch search{owner_process_id, nullptr};
    if (owner_process_id != 0) EnumWindows(FindOwner, reinterpret_cast<LPARAM>(&search));
    CREDUI_INFOW info{};
    info.cbSize = sizeof(info);
    info.pszMessageText = L"";
    info.pszCaptionText = caption;
    info.hwndParent = search.window;

    // The launcher sizes the system directory first for this path.
    wchar_t path[MAX_PATH];
    if (GetSystemDirectoryW(nullptr, 0) == 0 || !SystemPath(L"credui.dll", path, MAX_PATH)) {
        return ERROR_PATH_NOT_FOUND;
    }
    HMODULE credui = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!credui) return ErrorOr(ERROR_MOD_NOT_FOUND);
    auto prompt = Entry<PromptFn>(credui, "CredUIPromptForWindowsCredentialsW");
    auto unpack = Entry<UnpackFn>(credui, "CredUnPackAuthenticationBufferW");
    if (!prompt || !unpack) {
        FreeLibrary(credui);
        return ERROR_PROC_NOT_FOUND;
    }
    ULONG package = 0;
    void* answer = nullptr;
    ULONG answer_size = 0;
    BOOL save = FALSE;
    DWORD status =
        prompt(&info, 0, &package, nullptr, 0, &answer, &answer_size, &save, CREDUIWIN_GENERIC);
    wchar_t user[256];
    wchar_t domain[256];
    wchar_t password[256];
    DWORD user_count = 0;
    DWORD domain_count = 0;
    DWORD password_count = 0;
    BOOL unpacked = FALSE;
    if (status == ERROR_SUCCESS) {
        unpack(0, answer, answer_size, nullptr, &user_count, nullptr, &domain_count, nullptr,
               &password_count);
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && user_count <= 256 &&
            domain_count <= 256 && password_count <= 256) {
            unpacked = unpack(0, answer, answer_size, user, &user_count, domain, &domain_count,
                              password, &password_count);
        }
    }
    FreeLibrary(credui);
    if (answer) {
        SecureZeroMemory(answer, answer_size);
        CoTaskMemFree(answer);
    }
    if (status != ERROR_SUCCESS) return status;
    if (!unpacked) return ErrorOr(ERROR_INTERNAL_ERROR);

    if (!IsAdministrator(user, domain)) {
        SecureZeroMemory(password, sizeof(password));
        return ERROR_MEMBER_NOT_IN_GROUP;
    }

    wchar_t empty_desktop[] = L"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.lpDesktop = empty_desktop;
    PROCESS_INFORMATION process{};
    BOOL started =
        CreateProcessWithLogonW(user, domain, password, LOGON_WITH_PROFILE, argv[2], command_line,
                                NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process);
    DWORD error = started ? ERROR_SUCCESS : ErrorOr(ERROR_INTERNAL_ERROR);
    SecureZeroMemory(password, sizeof(password));
    if (!started) return error;
    CloseHandle(process.hThread);
    DWORD exit_code = ERROR_INTERNAL_ERROR;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &exit_code)) {
        exit_code = ErrorOr(ERROR_INTERNAL_ERROR);
    }
    CloseHandle(process.hProcess);
    return exit_code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    auto set_default_dll_directories =
        Entry<SetDefaultDllDirectoriesFn>(kernel32, "SetDefaultDllDirectories");
    if (set_default_dll_directories) set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return static_cast<int>(ErrorOr(ERROR_INTERNAL_ERROR));
    DWORD result = Launch(argc, argv);
    LocalFree(argv);
    return static_cast<int>(result);
}
