#include "launcher/elevated_start.h"

#include <objbase.h>
#include <shellapi.h>

#include <cwchar>

#include "launcher/argument_vector.h"
#include "launcher/child_command_line.h"
#include "launcher/credential_dialog.h"
#include "launcher/process_wait.h"
#include "launcher/scope_guard.h"
#include "tarn/last_error.h"

namespace launcher {

namespace {

constexpr int kMinimumTokens = 3;              // verb, owner process id, program
constexpr std::size_t kLongestProcessId = 10;  // the digits of 4294967295
constexpr unsigned long long kLargestProcessId = 0xFFFFFFFFull;

// Decimal digits only, and no more than a process id holds: anything but
// what the launcher itself writes is refused.
bool ParseProcessId(const wchar_t* text, DWORD& process_id) {
    std::size_t length = std::wcslen(text);
    if (length == 0 || length > kLongestProcessId) return false;
    unsigned long long value = 0;
    for (const wchar_t* digit = text; *digit; ++digit) {
        if (*digit < L'0' || *digit > L'9') return false;
        value = value * 10 + static_cast<unsigned>(*digit - L'0');
    }
    if (value > kLargestProcessId) return false;
    process_id = static_cast<DWORD>(value);
    return true;
}

// Without the C runtime's formatting, which would bring its wide-stream
// functions into the executable.
void AppendDecimal(std::wstring& text, DWORD value) {
    wchar_t digits[kLongestProcessId];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) text += digits[--count];
}

DWORD GetCurrentDirectoryText(std::wstring& directory) {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    directory.assign(needed, L'\0');
    DWORD length = GetCurrentDirectoryW(needed, &directory[0]);
    if (length == 0) return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    // The directory changed between the two calls.
    if (length >= needed) return ERROR_INSUFFICIENT_BUFFER;
    directory.resize(length);
    return ERROR_SUCCESS;
}

// COM for the length of the shell's start, which may hand the start to
// extensions that need it. Released before the wait, so that no window of
// the apartment sits unserviced while the program runs.
class ComForShellStart {
  public:
    ComForShellStart() noexcept
        : initialized_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComForShellStart() {
        if (initialized_) CoUninitialize();
    }
    ComForShellStart(const ComForShellStart&) = delete;
    ComForShellStart& operator=(const ComForShellStart&) = delete;

  private:
    bool initialized_;
};

DWORD StartElevatedAndWait(DWORD owner_process_id, const wchar_t* program,
                           const std::wstring& parameters) {
    // Given explicitly: an elevated start does not otherwise keep it.
    std::wstring directory;
    DWORD directory_error = GetCurrentDirectoryText(directory);
    if (directory_error != ERROR_SUCCESS) return directory_error;

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = FindDialogOwner(owner_process_id);
    info.lpVerb = L"runas";
    info.lpFile = program;
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    {
        ComForShellStart com;
        if (!ShellExecuteExW(&info)) return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    }
    // A start that another process took over leaves nothing to wait for, and
    // no exit code: never report that as the program's success.
    if (!info.hProcess) return ERROR_INVALID_HANDLE;
    auto close_process = MakeScopeGuard([&info] { CloseHandle(info.hProcess); });
    return WaitForExitCode(info.hProcess);
}

}  // namespace

std::wstring BuildElevatedStartCommandLine(DWORD owner_process_id,
                                           const wchar_t* child_command_line) {
    std::wstring command_line(kElevatedStartVerb);
    command_line += L' ';
    AppendDecimal(command_line, owner_process_id);
    command_line += L' ';
    command_line += child_command_line;
    return command_line;
}

bool IsElevatedStartRequest(const wchar_t* command_line) noexcept {
    ArgumentVector tokens(command_line);
    return tokens.count() > 0 && std::wcscmp(tokens[0], kElevatedStartVerb) == 0;
}

DWORD RunElevatedStart(const wchar_t* command_line, bool dll_search_restricted) {
    // The shell loads many libraries by name: none may come from the
    // current directory.
    if (!dll_search_restricted) return kElevatedStartUnsafeDllSearch;
    ArgumentVector tokens(command_line);
    DWORD owner_process_id = 0;
    if (tokens.count() < kMinimumTokens || std::wcscmp(tokens[0], kElevatedStartVerb) != 0 ||
        !ParseProcessId(tokens[1], owner_process_id) || tokens[2][0] == L'\0') {
        return kElevatedStartMalformed;
    }
    // The arguments quoted so that the program's own split gives them back
    // exactly; the shell puts the program's path before them.
    std::wstring parameters = BuildChildCommandLine(tokens.tokens() + 3, tokens.count() - 3);
    return StartElevatedAndWait(owner_process_id, tokens[2], parameters);
}

}  // namespace launcher
