// Test support: JSON records that stand-ins and probes leave for the test
// driver. Strings are written with every unit outside printable ASCII as a
// \uXXXX escape, so the driver reads back exactly the UTF-16 that was seen,
// lone surrogates included.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace testing_support {

inline std::string JsonString(const wchar_t* text) {
    if (!text) return "null";
    std::string json = "\"";
    for (; *text; ++text) {
        unsigned unit = static_cast<unsigned short>(*text);
        if (unit == '"' || unit == '\\') {
            json += '\\';
            json += static_cast<char>(unit);
        } else if (unit >= 0x20 && unit < 0x7F) {
            json += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", unit);
            json += escape;
        }
    }
    return json + "\"";
}

inline std::string JsonString(const std::wstring& text) { return JsonString(text.c_str()); }

inline const char* JsonBool(bool value) { return value ? "true" : "false"; }

// The value of an environment variable; empty when it is missing.
inline std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring value(needed, L'\0');
    DWORD written = GetEnvironmentVariableW(name, &value[0], needed);
    value.resize(written < needed ? written : 0);
    return value;
}

// Appends one line to the file that the environment variable names; does
// nothing when the variable is missing. The error that the caller is about
// to report is kept.
inline void AppendRecord(const wchar_t* path_variable, const std::string& line) {
    DWORD kept_error = GetLastError();
    std::wstring path = EnvironmentValue(path_variable);
    if (!path.empty()) {
        HANDLE file =
            CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::string text = line + "\n";
            DWORD written = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    SetLastError(kept_error);
}

}  // namespace testing_support
