#include <windows.h>

#include "launcher/dll_search.h"
#include "launcher/entry.h"

namespace {

bool g_dll_search_restricted = false;

// Runs before the other static constructors, among them the stack
// protector's, which asks the crypto API (and so a provider library loaded
// by name) for its guard value: the restriction must already hold then.
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
