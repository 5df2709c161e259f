#include "launcher/credential_dialog.h"

#include <wincred.h>

#include <stdexcept>

#include "launcher/auth_buffer_guard.h"
#include "launcher/credui_module.h"
#include "tarn/last_error.h"

namespace launcher {

namespace {

constexpr wchar_t kCaptionVariable[] = L"AuthDialogCaption";
constexpr wchar_t kEmptyPasswordMessageVariable[] = L"EmptyPasswordRestrictionMessage";

void DropTerminator(std::wstring& text) {
    if (!text.empty()) text.pop_back();
}

}  // namespace

std::wstring GetAuthDialogCaption() {
    DWORD needed = GetEnvironmentVariableW(kCaptionVariable, nullptr, 0);
    if (needed == 0) {
        throw std::runtime_error("Failed to get length of the caption of the auth dialog");
    }
    std::wstring caption(needed, L'\0');
    DWORD written = GetEnvironmentVariableW(kCaptionVariable, &caption[0], needed);
    if (written >= needed) throw std::runtime_error("Failed to get caption of the auth dialog");
    caption.resize(written);
    return caption;
}

std::wstring GetEmptyPasswordRestrictionMessage() {
    DWORD needed = GetEnvironmentVariableW(kEmptyPasswordMessageVariable, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring message(needed, L'\0');
    DWORD written = GetEnvironmentVariableW(kEmptyPasswordMessageVariable, &message[0], needed);
    if (written >= needed) return std::wstring();
    message.resize(written);
    return message;
}

BOOL CALLBACK FindOwnerWindow(HWND window, LPARAM search_address) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): EnumWindows hands back the address passed below
    auto* search = reinterpret_cast<OwnerWindowSearch*>(search_address);
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id != search->process_id) return TRUE;
    if (GetWindow(window, GW_OWNER) != nullptr) return TRUE;
    if (!IsWindowVisible(window)) return TRUE;
    search->window = window;
    return FALSE;
}

HWND FindDialogOwner(DWORD owner_process_id) {
    if (owner_process_id == 0) return nullptr;
    OwnerWindowSearch search{owner_process_id, nullptr};
    EnumWindows(FindOwnerWindow, reinterpret_cast<LPARAM>(&search));
    return search.window;
}

DWORD PromptForCredentials(DWORD owner_process_id, const std::wstring& caption,
                           const std::wstring& empty_password_message, DWORD previous_error,
                           Credentials& credentials) {
    CREDUI_INFOW info{};
    info.cbSize = sizeof(info);
    info.pszMessageText =
        previous_error == ERROR_ACCOUNT_RESTRICTION ? empty_password_message.c_str() : L"";
    info.pszCaptionText = caption.c_str();
    info.hbmBanner = nullptr;
    info.hwndParent = FindDialogOwner(owner_process_id);

    ULONG auth_package = 0;
    void* answer = nullptr;
    ULONG answer_size = 0;
    BOOL save = FALSE;
    AuthBufferGuard answer_guard(answer, answer_size);

    CredUiModule credui;
    DWORD status = credui.prompt()(&info, previous_error, &auth_package, nullptr, 0, &answer,
                                   &answer_size, &save, CREDUIWIN_GENERIC);
    if (status == ERROR_CANCELLED) return ERROR_CANCELLED;
    if (status != ERROR_SUCCESS) return tarn::LastErrorOr(status);

    DWORD user_count = 0;
    DWORD domain_count = 0;
    DWORD password_count = 0;
    credui.unpack()(0, answer, answer_size, nullptr, &user_count, nullptr, &domain_count, nullptr,
                    &password_count);
    // A sizing call that reports no shortage has given us nothing to unpack.
    DWORD sizing_error = tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
    if (sizing_error != ERROR_INSUFFICIENT_BUFFER) return sizing_error;

    credentials.user_name.resize(user_count);
    credentials.domain.resize(domain_count);
    credentials.password.resize(password_count);
    BOOL unpacked = credui.unpack()(0, answer, answer_size, &credentials.user_name[0], &user_count,
                                    &credentials.domain[0], &domain_count, &credentials.password[0],
                                    &password_count);
    DropTerminator(credentials.user_name);
    DropTerminator(credentials.domain);
    DropTerminator(credentials.password);
    if (unpacked) return ERROR_SUCCESS;
    return tarn::LastErrorOr(ERROR_INTERNAL_ERROR);
}

}  // namespace launcher
