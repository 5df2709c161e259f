// The well-known principals and the constant SIDs behind most of them, in
// binary form: revision, sub-authority count, six-byte big-endian identifier
// authority, 32-bit little-endian sub-authorities.
#pragma once

#include <cstdint>

#include "tarn/result_code.h"

namespace tarn {
namespace windows {
namespace security {

class PrincipalId;

enum class WellKnownPrincipal : std::uint32_t {
    AccountAdministrator = 0,  // built at run time on the computer's SID
    AccountGuest = 1,          // built at run time on the computer's SID
    World = 2,
    BuiltinAdministrators = 3,
    BuiltinUsers = 4,
    BuiltinGuests = 5,
    LocalSystem = 6,
    LocalService = 7,
    NetworkService = 8,
};

// S-1-1-0
alignas(4) inline constexpr std::uint8_t kWorldSid[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
// S-1-5-32-544
alignas(4) inline constexpr std::uint8_t kBuiltinAdministratorsSid[16] = {
    1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
// S-1-5-32-545
alignas(4) inline constexpr std::uint8_t kBuiltinUsersSid[16] = {1,  2, 0, 0, 0,    0,    0, 5,
                                                                 32, 0, 0, 0, 0x21, 0x02, 0, 0};
// S-1-5-32-546
alignas(4) inline constexpr std::uint8_t kBuiltinGuestsSid[16] = {1,  2, 0, 0, 0,    0,    0, 5,
                                                                  32, 0, 0, 0, 0x22, 0x02, 0, 0};
// S-1-5-18
alignas(4) inline constexpr std::uint8_t kLocalSystemSid[12] = {1, 1, 0,  0, 0, 0,
                                                                0, 5, 18, 0, 0, 0};
// S-1-5-19
alignas(4) inline constexpr std::uint8_t kLocalServiceSid[12] = {1, 1, 0,  0, 0, 0,
                                                                 0, 5, 19, 0, 0, 0};
// S-1-5-20
alignas(4) inline constexpr std::uint8_t kNetworkServiceSid[12] = {1, 1, 0,  0, 0, 0,
                                                                   0, 5, 20, 0, 0, 0};
// S-1-5-32, the BUILTIN domain: the computer's local aliases.
alignas(4) inline constexpr std::uint8_t kBuiltinDomainSid[12] = {1, 1, 0,  0, 0, 0,
                                                                  0, 5, 32, 0, 0, 0};

// The SID of a well-known principal. Gives 0x80000046 for a value above 8;
// values 0 and 1 need the computer's SID and CreateWellKnownSid.
ResultCode SidFromWellKnown(WellKnownPrincipal principal, PrincipalId& sid);

}  // namespace security
}  // namespace windows
}  // namespace tarn
