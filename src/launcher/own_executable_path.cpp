#include "launcher/own_executable_path.h"

#include "tarn/last_error.h"

namespace launcher {

namespace {

// The longest path the system hands out, in characters with the terminator.
constexpr DWORD kLongestPath = 32768;

}  // namespace

DWORD GetOwnExecutablePath(std::wstring& path) {
    // A result that fills the whole buffer may have been cut: try a larger one.
    for (DWORD size = MAX_PATH;; size *= 2) {
        if (size > kLongestPath) size = kLongestPath;
        path.assign(size, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, &path[0], size);
        if (length == 0) return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
        if (length < size) {
            path.resize(length);
            return ERROR_SUCCESS;
        }
        if (size == kLongestPath) return ERROR_INSUFFICIENT_BUFFER;
    }
}

}  // namespace launcher
