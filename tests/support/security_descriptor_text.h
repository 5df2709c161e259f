// Test support: a security descriptor that a program passed to the system,
// as a JSON value for the records of the stand-ins that catch such calls.
#pragma once

// sddl.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <memory>
#include <string>

#include "json_record.h"

namespace testing_support {

using LocalText = std::unique_ptr<wchar_t, HLOCAL(WINAPI*)(HLOCAL)>;

// The descriptor as SDDL (owner, group and access list, whichever it has),
// null for none, or a text that names the error of an unreadable one.
inline std::string DescriptorText(const SECURITY_ATTRIBUTES* attributes) {
    if (!attributes || !attributes->lpSecurityDescriptor) return "null";
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            attributes->lpSecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &text, nullptr)) {
        return JsonString(L"unreadable: error " + std::to_wstring(GetLastError()));
    }
    const LocalText owned(text, LocalFree);
    return JsonString(owned.get());
}

}  // namespace testing_support
