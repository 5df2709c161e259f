// One showing of the system credential dialog: its texts from the
// environment, its owner window, and the unpacking of what the user typed.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/credentials.h"

namespace launcher {

// Throws std::runtime_error when "AuthDialogCaption" is missing or grew
// between the size query and the read.
std::wstring GetAuthDialogCaption();

// Empty when "EmptyPasswordRestrictionMessage" is missing or grew between reads.
std::wstring GetEmptyPasswordRestrictionMessage();

struct OwnerWindowSearch {
    DWORD process_id;
    HWND window;
};

// EnumWindows callback: takes the first visible, unowned top-level window of
// the process sought.
BOOL CALLBACK FindOwnerWindow(HWND window, LPARAM search);

// The dialog's owner for a process id; null for 0 or when none matches.
HWND FindDialogOwner(DWORD owner_process_id);

// Shows the dialog once. Returns 0 with the credentials filled, 1223 when the
// user cancelled, or another Windows error code. `credentials` must be empty.
DWORD PromptForCredentials(DWORD owner_process_id, const std::wstring& caption,
                           const std::wstring& empty_password_message, DWORD previous_error,
                           Credentials& credentials);

}  // namespace launcher
