// The error of a Windows call that failed, in a form that never reads as
// success.
#pragma once

#include <windows.h>

namespace tarn {

// The thread's last error after a failed call, or `fallback` when the call
// left none.
inline DWORD LastErrorOr(DWORD fallback) noexcept {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace tarn
