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
    return launcher::RunLauncher(GetCommandLineW(), g_dll_search_restricted);
}
