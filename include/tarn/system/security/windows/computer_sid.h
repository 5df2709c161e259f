// The SID that the computer's own name resolves to, looked up once per
// process and kept until process exit. The first call must not race with
// another thread.
#pragma once

#include "tarn/result_code.h"
#include "tarn/system/security/windows/principal_id.h"

namespace tarn {
namespace windows {
namespace security {

// Replaces `sid` with a copy of the cached SID. A failure leaves `sid`
// unchanged and the cache unresolved, so that the next call tries again.
ResultCode GetComputerSid(PrincipalId& sid);

}  // namespace security
}  // namespace windows
}  // namespace tarn
