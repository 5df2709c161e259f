#include "launcher/process_wait.h"

#include "tarn/last_error.h"

namespace launcher {

DWORD WaitForExitCode(HANDLE process) {
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) {
        return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process, &exit_code)) return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    return exit_code;
}

}  // namespace launcher
