#include <windows.h>

#include "launcher/dll_search.h"
#include "launcher/entry.h"

namespace {

bool g_dll_search_restricted = false;

// Runs before every other static constructor, so that no library that they
// or the system load on their behalf comes from the current directory (the
// stack guard's set-up asks the system for random bytes, which may load one).
__attribute__((constructor(101))) void RestrictDllSearchAtStart() {
    g_dll_search_restricted = launcher::RestrictDllSearchToSystem32();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Everything we load ourselves is loaded by full path, but the system
    // libraries load others by name. While the current directory (often the
    // folder an installer was downloaded to) is still searched, a planted
    // library could read the password: ask for none.
    if (!g_dll_search_restricted) {
        MessageBoxA(nullptr, "Failed to restrict the DLL search path", "Error", MB_ICONERROR);
        return launcher::kExitFailureShown;
    }
    return launcher::RunLauncher(GetCommandLineW());
}
