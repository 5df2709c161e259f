// Control program for the planting tests: it imports netapi32.dll at build
// time, as programs commonly do, and prints the path of the netapi32.dll that
// the loader gave it. Exit code 0, or 2 when the module cannot be named.
// The other system headers need windows.h first.
// clang-format off
#include <windows.h>
#include <lm.h>
// clang-format on

#include <cwchar>

int wmain() {
    // A call through the import table makes the import real.
    NetApiBufferFree(nullptr);
    HMODULE netapi = GetModuleHandleW(L"netapi32.dll");
    wchar_t path[MAX_PATH] = {};
    if (!netapi || GetModuleFileNameW(netapi, path, MAX_PATH) == 0) return 2;
    std::wprintf(L"netapi32=%ls\n", path);
    return 0;
}
