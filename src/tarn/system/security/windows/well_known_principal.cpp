#include <windows.h>

#include "tarn/system/security/windows/computer_sid.h"
#include "tarn/system/security/windows/principal_id.h"
#include "tarn/system/security/windows/well_known_principal.h"

namespace tarn {
namespace windows {
namespace security {

namespace {

// The constant SID of values 2 to 8; null for the others.
const std::uint8_t* ConstantSid(WellKnownPrincipal principal) {
    switch (principal) {
        case WellKnownPrincipal::World: return kWorldSid;
        case WellKnownPrincipal::BuiltinAdministrators: return kBuiltinAdministratorsSid;
        case WellKnownPrincipal::BuiltinUsers: return kBuiltinUsersSid;
        case WellKnownPrincipal::BuiltinGuests: return kBuiltinGuestsSid;
        case WellKnownPrincipal::LocalSystem: return kLocalSystemSid;
        case WellKnownPrincipal::LocalService: return kLocalServiceSid;
        case WellKnownPrincipal::NetworkService: return kNetworkServiceSid;
        default: return nullptr;
    }
}

// An account of the computer's own domain, built on the computer's SID.
ResultCode ComputerAccountSid(WELL_KNOWN_SID_TYPE type, PrincipalId& sid) {
    PrincipalId computer;
    ResultCode code = GetComputerSid(computer);
    if (Failed(code)) return code;
    alignas(DWORD) BYTE buffer[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(buffer);
    if (!CreateWellKnownSid(type, computer.sid(), buffer, &size)) {
        return FailureFromWindowsError(GetLastError());
    }
    return AssignSid(sid, buffer);
}

}  // namespace

ResultCode SidFromWellKnown(WellKnownPrincipal principal, PrincipalId& sid) {
    switch (principal) {
        case WellKnownPrincipal::AccountAdministrator:
            return ComputerAccountSid(WinAccountAdministratorSid, sid);
        case WellKnownPrincipal::AccountGuest: return ComputerAccountSid(WinAccountGuestSid, sid);
        default: break;
    }
    const std::uint8_t* constant = ConstantSid(principal);
    if (!constant) return kInvalidArgument;
    return AssignSid(sid, constant);
}

}  // namespace security
}  // namespace windows
}  // namespace tarn
