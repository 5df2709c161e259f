#include <windows.h>

#include "launcher/dll_search.h"
#include "launcher/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    launcher::RestrictDllSearchToSystem32();
    return launcher::RunLauncher(GetCommandLineW());
}
