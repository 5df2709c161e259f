// CredUiModule owns credui.dll, loaded by full path from the system
// directory for the length of one showing of the credential dialog, and the
// two entries that the dialog needs.
#pragma once

#include <windows.h>
#include <wincred.h>

#include <string>

namespace launcher {

// The two entries, typed as the Windows SDK declares them.
using CredUIPromptForWindowsCredentialsWFn = decltype(&::CredUIPromptForWindowsCredentialsW);
using CredUnPackAuthenticationBufferWFn = decltype(&::CredUnPackAuthenticationBufferW);

// The full path of credui.dll in the system directory. Throws std::runtime_error.
std::wstring GetCredUiLibraryPath();

class CredUiModule {
  public:
    // Loads the library and binds both entries, or throws; a failed
    // construction never leaves the library loaded.
    CredUiModule();
    ~CredUiModule();
    CredUiModule(const CredUiModule&) = delete;
    CredUiModule& operator=(const CredUiModule&) = delete;

    HMODULE module() const noexcept { return module_; }
    CredUIPromptForWindowsCredentialsWFn prompt() const noexcept { return prompt_; }
    CredUnPackAuthenticationBufferWFn unpack() const noexcept { return unpack_; }

  private:
    HMODULE module_ = nullptr;
    CredUIPromptForWindowsCredentialsWFn prompt_ = nullptr;
    CredUnPackAuthenticationBufferWFn unpack_ = nullptr;
};

}  // namespace launcher
