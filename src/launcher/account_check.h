// The launcher's gate: only accounts of the built-in Administrators group,
// direct or nested, may be used.
#pragma once

#include "launcher/credentials.h"

namespace launcher {

// True only when the typed account resolves and is a member of BUILTIN\Administrators.
bool IsAdministratorAccount(const Credentials& credentials);

}  // namespace launcher
