#include "tarn/system/security/windows/local_group_member.h"

#include <windows.h>
// The network-management declarations need windows.h first.
#include <lm.h>

#include "tarn/string.h"
#include "tarn/system/security/windows/account_lookup.h"
#include "tarn/system/security/windows/account_name.h"
#include "tarn/system/security/windows/auto_value.h"
#include "tarn/system/security/windows/net_api_library.h"
#include "tarn/system/security/windows/well_known_principal.h"

namespace tarn {
namespace windows {
namespace security {

namespace {

// The membership test's own reading of a NetUserGetLocalGroups status.
ResultCode ResultFromGroupListStatus(NET_API_STATUS status) {
    switch (status) {
        case ERROR_ACCESS_DENIED: return kAccessDenied;
        case ERROR_NOT_ENOUGH_MEMORY: return kOutOfMemory;
        case ERROR_INVALID_PARAMETER: return kInvalidArgument;
        case ERROR_MORE_DATA: return kBufferTooSmall;
        default: return kUnspecifiedPlatformError;
    }
}

bool IsValidPrincipal(const PrincipalId& principal) {
    return !principal.empty() && IsValidSid(principal.sid());
}

// Exact, case-sensitive comparison of code units.
bool SameName(LPCWSTR entry, const string_t& name) {
    string_t::size_type length = 0;
    if (entry) {
        while (entry[length] != L'\0') {
            if (length == name.size()) return false;
            ++length;
        }
    }
    if (length != name.size()) return false;
    for (string_t::size_type i = 0; i < length; ++i) {
        if (static_cast<char16_t>(entry[i]) != name[i]) return false;
    }
    return true;
}

}  // namespace

ResultCode IsLocalGroupMember(const PrincipalId& user, const PrincipalId& group) {
    if (!IsValidPrincipal(user) || !IsValidPrincipal(group)) return kInvalidArgument;

    // Everyone belongs to World; the system is not asked.
    PrincipalId world(kWorldSid);
    if (CompareSid(group, world) == kNoError) return kNoError;

    AccountName group_name;
    ResultCode code = AccountFromSid(group, group_name);
    if (Failed(code)) return code;
    if (group_name.domain.empty()) return kFalse;

    // Only the computer's local aliases can be listed. Their domain is
    // recognised by its SID, whatever the system's language calls it.
    PrincipalId group_domain;
    code = SidFromDomainName(group_name.domain, group_domain);
    if (Failed(code)) return code;
    PrincipalId builtin(kBuiltinDomainSid);
    if (CompareSid(group_domain, builtin) != kNoError) return kFalse;

    AccountName user_name;
    code = AccountFromSid(user, user_name);
    if (Failed(code)) return code;
    string_t qualified;
    if (!user_name.domain.empty()) {
        qualified = user_name.domain;
        qualified += u'\\';
    }
    qualified += user_name.name;

    // Declared before the list, so that the list is released while the
    // library is still loaded.
    detail::NetApiLibrary net_api;
    // A library that can't be used never answers "member", whatever error it left.
    if (!net_api.loaded()) return FailureFromWindowsError(net_api.error());
    detail::AutoLocalGroupUsersInfo0 groups(net_api.buffer_free());
    DWORD entries_read = 0;
    DWORD total_entries = 0;
    NET_API_STATUS status =
        net_api.get_local_groups()(nullptr, reinterpret_cast<LPCWSTR>(qualified.c_str()), 0,
                                   LG_INCLUDE_INDIRECT, reinterpret_cast<LPBYTE*>(groups.address()),
                                   MAX_PREFERRED_LENGTH, &entries_read, &total_entries);
    if (status != NERR_Success) return ResultFromGroupListStatus(status);
    if (entries_read != total_entries) return kBufferTooSmall;
    const LOCALGROUP_USERS_INFO_0* entries = groups.value();
    if (!entries) return kFalse;
    for (DWORD i = 0; i < entries_read; ++i) {
        if (SameName(entries[i].lgrui0_name, group_name.name)) return kNoError;
    }
    return kFalse;
}

}  // namespace security
}  // namespace windows
}  // namespace tarn
