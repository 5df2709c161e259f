// Entries bound by name at run time, typed as their declarations say.
#pragma once

#include <windows.h>

namespace tarn {

// GetProcAddress returns a generic pointer; the entry's real type is known
// by its name. Null when the module has no such entry.
template <class Function>
Function GetProcAddressAs(HMODULE module, const char* name) noexcept {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace tarn
