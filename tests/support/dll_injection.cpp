#include "dll_injection.h"

#include <cwchar>

namespace testing_support {

namespace {

bool SameWordSize(HANDLE process) {
    BOOL ours = FALSE;
    BOOL theirs = FALSE;
    return IsWow64Process(GetCurrentProcess(), &ours) && IsWow64Process(process, &theirs) &&
           ours == theirs;
}

}  // namespace

DWORD QueueDllLoad(HANDLE process, HANDLE thread, const wchar_t* dll_path) {
    if (!SameWordSize(process)) return ERROR_EXE_MACHINE_TYPE_MISMATCH;
    // kernel32.dll lies at the same address in every process of a session,
    // so its LoadLibraryW here is the new process's one too.
    const auto load = reinterpret_cast<PAPCFUNC>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    if (!load) return GetLastError();
    const SIZE_T bytes = (std::wcslen(dll_path) + 1) * sizeof(wchar_t);
    // The path stays in the process for its whole life: a few bytes.
    void* remote =
        VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote) return GetLastError();
    SIZE_T written = 0;
    if (!WriteProcessMemory(process, remote, dll_path, bytes, &written) || written != bytes)
        return GetLastError() ? GetLastError() : ERROR_PARTIAL_COPY;
    if (!QueueUserAPC(load, thread, reinterpret_cast<ULONG_PTR>(remote))) return GetLastError();
    return 0;
}

}  // namespace testing_support
