#include "start_retry.h"

#include <cstdio>
#include <cwchar>

namespace testing_support {

namespace {

// Wine's start-up failures have come one at a time: three more tries are
// plenty, and a program that really cannot start still fails at once.
constexpr int kRetries = 3;

}  // namespace

BOOL CreateProcessRetryingStartFailure(const wchar_t* application, wchar_t* command_line,
                                       DWORD creation_flags, void* environment,
                                       const wchar_t* current_directory, STARTUPINFOW* startup_info,
                                       PROCESS_INFORMATION* process) {
    for (int retry = 1;; ++retry) {
        if (CreateProcessW(application, command_line, nullptr, nullptr, FALSE, creation_flags,
                           environment, current_directory, startup_info, process)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        // Wine gives this error when the new process ended with exit code 0
        // before its start-up was done, i.e. before any of its code ran.
        if (error != ERROR_INTERNAL_ERROR || retry > kRetries) {
            SetLastError(error);
            return FALSE;
        }
        std::fwprintf(stderr,
                      L"CreateProcessW failed with %lu (Wine's start-up of the new process), try "
                      L"%d of %d again\n",
                      error, retry, kRetries);
        std::fflush(stderr);
    }
}

}  // namespace testing_support
