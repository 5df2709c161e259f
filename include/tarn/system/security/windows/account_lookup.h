// Account names to SIDs and back, always on the local computer.
#pragma once

#include <windows.h>

#include "tarn/result_code.h"
#include "tarn/string.h"
#include "tarn/system/security/windows/account_name.h"
#include "tarn/system/security/windows/principal_id.h"

namespace tarn {
namespace windows {
namespace security {

// Resolves one account name. Gives 0x80000046 for an empty name without
// asking the system, 0x80000051 when the lookup still reports too small a
// buffer at its seventh call. The kind is stored only on success.
ResultCode SidFromAccountName(const string_t& name, PrincipalId& sid, SID_NAME_USE* kind = nullptr);

// Resolves a computer or domain name; at most five calls.
ResultCode SidFromDomainName(const string_t& name, PrincipalId& sid);

// Resolves "domain\name", a domain alone (which must be a domain or the
// computer, else 0x8000004c) or a name alone (a name that denotes a domain
// or the computer is looked up again as "name\name"). `sid` is replaced only
// on success.
ResultCode SidFromAccount(const AccountName& account, PrincipalId& sid);

// The name and domain of a SID as the system spells them. Gives 0x80000046
// for an empty or invalid SID, 0x80000051 when the lookup still reports too
// small a buffer at its seventh call.
ResultCode AccountFromSid(const PrincipalId& sid, AccountName& account);

}  // namespace security
}  // namespace windows
}  // namespace tarn
