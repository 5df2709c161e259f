// Small window and file helpers shared by the test-support programs that own
// windows (never shipped).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace testing_support {

inline void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

inline void PumpMessagesFor(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        PumpMessages();
    }
}

// A window handle in unsigned decimal, as the tests read it.
inline std::string HandleText(HWND window) {
    return std::to_string(
        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
}

// Writes (or appends) UTF-8 text to a file; false on any failure.
inline bool WriteTextFile(const wchar_t* path, const std::string& text, bool append) {
    HANDLE file =
        CreateFileW(path, append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

}  // namespace testing_support
