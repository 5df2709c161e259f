#include "launcher/dll_search.h"

#include <windows.h>

#include "tarn/proc_address.h"

namespace launcher {

namespace {

bool SetSystem32AsOnlyDefault() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (!kernel32) return false;
    auto set_default_dll_directories =
        tarn::GetProcAddressAs<SetDefaultDllDirectoriesFn>(kernel32, "SetDefaultDllDirectories");
    return set_default_dll_directories &&
           set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace

bool RestrictDllSearchToSystem32() noexcept {
    if (SetSystem32AsOnlyDefault()) return true;
    // An empty directory takes the current directory out of the order.
    return SetDllDirectoryW(L"") != FALSE;
}

}  // namespace launcher
