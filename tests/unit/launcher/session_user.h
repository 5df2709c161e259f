// The Wine session user, who resolves and is an administrator under Wine.
#pragma once

#include <windows.h>

#include <string>

namespace launcher_tests {

inline std::wstring SessionUser() {
    wchar_t name[256];
    DWORD size = 256;
    if (!GetUserNameW(name, &size)) return L"";
    return name;
}

// A name that no account database resolves.
inline const wchar_t* UnknownUser() { return L"no-such-account-7f3a"; }

}  // namespace launcher_tests
