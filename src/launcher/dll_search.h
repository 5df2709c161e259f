// Restricts where libraries loaded on the launcher's behalf may come from.
#pragma once

namespace launcher {

// Makes system32 the only default search location for later library loads,
// so that a DLL planted beside the executable (a Downloads folder, say) is
// never picked up. Systems without the call (Vista without updates) keep
// their default order; everything we load ourselves is loaded by full path.
void RestrictDllSearchToSystem32() noexcept;

}  // namespace launcher
