// Test DLL planted beside a program under the name of a system DLL. When a
// process loads it, it leaves "<its own path>.loaded" holding the path of the
// process's executable, so a test can tell that the plant was taken.
#include <windows.h>

namespace {

void LeaveMarker(HINSTANCE instance) {
    wchar_t marker[MAX_PATH + 8] = {};
    DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcatW(marker, L".loaded");
    wchar_t host[MAX_PATH] = {};
    DWORD host_length = GetModuleFileNameW(nullptr, host, MAX_PATH);
    HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, host, host_length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        LeaveMarker(instance);
    }
    return TRUE;
}

// The entries a program may look up in the DLL it believes it loaded. They
// fail, so that a plant that was taken cannot pass for the real library.
#ifdef PLANTED_NETAPI32
extern "C" __declspec(dllexport) DWORD WINAPI NetApiBufferFree(void*) {
    return ERROR_ACCESS_DENIED;
}

extern "C" __declspec(dllexport) DWORD WINAPI
    NetUserGetLocalGroups(const wchar_t*, const wchar_t*, DWORD, DWORD, BYTE**, DWORD, DWORD*,
                          DWORD*) {
    return ERROR_ACCESS_DENIED;
}
#endif

#ifdef PLANTED_CREDUI
extern "C" __declspec(dllexport) DWORD WINAPI
    CredUIPromptForWindowsCredentialsW(void*, DWORD, ULONG*, const void*, ULONG, void**, ULONG*,
                                       BOOL*, DWORD) {
    return ERROR_ACCESS_DENIED;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    CredUnPackAuthenticationBufferW(DWORD, void*, DWORD, wchar_t*, DWORD*, wchar_t*, DWORD*,
                                    wchar_t*, DWORD*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
#endif
