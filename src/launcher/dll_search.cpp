#include "launcher/dll_search.h"

#include <windows.h>

#include "tarn/proc_address.h"

namespace launcher {

void RestrictDllSearchToSystem32() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (!kernel32) return;
    auto set_default_dll_directories =
        tarn::GetProcAddressAs<SetDefaultDllDirectoriesFn>(kernel32, "SetDefaultDllDirectories");
    if (set_default_dll_directories) {
        set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

}  // namespace launcher
