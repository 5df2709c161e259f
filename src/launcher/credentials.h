// What the user typed into the credential dialog. The password's characters
// are erased before its memory is released.
#pragma once

#include <string>

#include "launcher/secure_zero.h"

namespace launcher {

struct Credentials {
    std::wstring user_name;
    std::wstring domain;
    std::wstring password;

    Credentials() = default;
    Credentials(const Credentials&) = delete;
    Credentials& operator=(const Credentials&) = delete;
    ~Credentials() { ErasePassword(); }

    // Overwrites the password's characters (not the terminator or spare capacity).
    void ErasePassword() noexcept {
        if (!password.empty()) SecureZero(&password[0], password.size() * sizeof(wchar_t));
    }

    // Erases the password and releases all three strings.
    void Clear() noexcept {
        ErasePassword();
        std::wstring().swap(password);
        std::wstring().swap(domain);
        std::wstring().swap(user_name);
    }
};

}  // namespace launcher
