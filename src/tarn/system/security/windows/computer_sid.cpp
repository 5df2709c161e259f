#include "tarn/system/security/windows/computer_sid.h"

#include <windows.h>

#include "tarn/string.h"
#include "tarn/system/security/windows/account_lookup.h"

namespace tarn {
namespace windows {
namespace security {

namespace {

struct ComputerSidCache {
    PrincipalId sid;
    bool resolved = false;
};

// Created on first use, destroyed at process exit.
ComputerSidCache& Cache() {
    static ComputerSidCache cache;
    return cache;
}

ResultCode ResolveComputerSid(PrincipalId& sid) {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD count = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &count)) {
        return FailureFromWindowsError(GetLastError());
    }
    // On success the count excludes the terminator; never read past the buffer.
    if (count > MAX_COMPUTERNAME_LENGTH) count = MAX_COMPUTERNAME_LENGTH;
    string_t computer;
    computer.append(reinterpret_cast<const char16_t*>(name), count);
    return SidFromDomainName(computer, sid);
}

}  // namespace

ResultCode GetComputerSid(PrincipalId& sid) {
    ComputerSidCache& cache = Cache();
    if (!cache.resolved) {
        ResultCode code = ResolveComputerSid(cache.sid);
        if (Failed(code)) return code;
        cache.resolved = true;
    }
    PrincipalId copy(cache.sid);
    sid.swap(copy);
    return kNoError;
}

}  // namespace security
}  // namespace windows
}  // namespace tarn
