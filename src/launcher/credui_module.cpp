#include "launcher/credui_module.h"

#include <stdexcept>

#include "tarn/exception.h"
#include "tarn/last_error.h"
#include "tarn/proc_address.h"
#include "tarn/result_code.h"

namespace launcher {

namespace {

constexpr char kSourceFile[] = "credui_module";
constexpr std::int32_t kLoadCheckLine = 20;
constexpr std::int32_t kPromptEntryCheckLine = 21;
constexpr std::int32_t kUnpackEntryCheckLine = 22;

// Binds one entry; a missing entry is a failed check at `line`. A failure
// that leaves the last error at 0 still counts as "procedure not found", and
// one whose error would convert to success (a success HRESULT) as an
// unspecified platform error: no entry is ever returned null.
template <class Function>
Function BindEntry(HMODULE module, const char* name, std::int32_t line) {
    Function entry = tarn::GetProcAddressAs<Function>(module, name);
    if (entry) return entry;
    tarn::ResultCode code = tarn::FailureFromWindowsError(tarn::LastErrorOr(ERROR_PROC_NOT_FOUND));
    throw tarn::CheckResultFailedException(kSourceFile, line, code);
}

}  // namespace

std::wstring GetCredUiLibraryPath() {
    UINT needed = GetSystemDirectoryW(nullptr, 0);
    if (needed == 0) throw std::runtime_error("Failed to get length of system32 path");
    std::wstring path(needed, L'\0');
    UINT written = GetSystemDirectoryW(&path[0], needed);
    if (written == 0 || written >= needed) throw std::runtime_error("Failed to get system32 path");
    path.resize(needed - 1);
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += L"credui.dll";
    return path;
}

CredUiModule::CredUiModule() {
    std::wstring path = GetCredUiLibraryPath();
    module_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    DWORD load_error = GetLastError();
    if (!module_) {
        throw tarn::CheckFailedException(kSourceFile, kLoadCheckLine)
            << "Failed to open credui.dll, error: " << static_cast<std::uint32_t>(load_error);
    }
    try {
        prompt_ = BindEntry<CredUIPromptForWindowsCredentialsWFn>(
            module_, "CredUIPromptForWindowsCredentialsW", kPromptEntryCheckLine);
        unpack_ = BindEntry<CredUnPackAuthenticationBufferWFn>(
            module_, "CredUnPackAuthenticationBufferW", kUnpackEntryCheckLine);
    } catch (...) {
        FreeLibrary(module_);
        module_ = nullptr;
        throw;
    }
}

CredUiModule::~CredUiModule() {
    if (module_) FreeLibrary(module_);
}

}  // namespace launcher
