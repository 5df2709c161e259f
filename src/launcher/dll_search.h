// Restricts where libraries loaded on the launcher's behalf may come from.
#pragma once

namespace launcher {

// Makes system32 the only default search location for later library loads,
// so that a DLL planted beside the executable (a Downloads folder, say) is
// never picked up. Systems without that call (Vista and 7 without their
// security update), or where it fails, at least lose the current directory
// from the search order. False when neither took effect: the current
// directory is then still searched.
bool RestrictDllSearchToSystem32() noexcept;

}  // namespace launcher
