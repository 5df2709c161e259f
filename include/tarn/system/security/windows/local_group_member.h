// Whether a user belongs to one of the computer's local (BUILTIN) groups,
// directly or through nested groups.
#pragma once

#include "tarn/result_code.h"
#include "tarn/system/security/windows/principal_id.h"

namespace tarn {
namespace windows {
namespace security {

// 0 if the user is a member of the group, 1 if not (also for a group outside
// the BUILTIN domain), negative when the question can't be answered.
ResultCode IsLocalGroupMember(const PrincipalId& user, const PrincipalId& group);

}  // namespace security
}  // namespace windows
}  // namespace tarn
