#include "launcher/account_check.h"

#include <new>

#include "tarn/system/security/windows/principalid"
#include "tarn/text_conversion.h"

namespace launcher {

namespace security = tarn::windows::security;

bool IsAdministratorAccount(const Credentials& credentials) {
    security::AccountName account;
    try {
        account.domain = tarn::ToFrameworkString(credentials.domain);
        account.name = tarn::ToFrameworkString(credentials.user_name);
    } catch (const std::bad_alloc&) {
        return false;
    }

    security::PrincipalId user;
    if (tarn::Failed(security::SidFromAccount(account, user))) return false;

    security::PrincipalId administrators;
    if (tarn::Failed(security::SidFromWellKnown(security::WellKnownPrincipal::BuiltinAdministrators,
                                                administrators))) {
        return false;
    }

    return security::IsLocalGroupMember(user, administrators) == tarn::kNoError;
}

}  // namespace launcher
