#include "tarn/system/security/windows/principal_id.h"

#include <new>

#include "tarn/exception.h"

namespace tarn {
namespace windows {
namespace security {

namespace {

constexpr char kSourceFile[] = "principalid";
constexpr std::int32_t kAssignCheckLine = 522;

}  // namespace

ResultCode AssignSid(PrincipalId& target, const void* sid) {
    PSID source = const_cast<void*>(sid);
    // GetLengthSid and CopySid trust the sub-authority count, so an invalid
    // SID would make them read past its end.
    if (!source || !IsValidSid(source)) {
        target.bytes().resize(0);
        return kInvalidArgument;
    }
    DWORD length = GetLengthSid(source);
    try {
        target.bytes().resize(length);
    } catch (const std::bad_alloc&) {
        target.bytes().resize(0);
        return kOutOfMemory;
    }
    if (!CopySid(length, target.bytes().data(), source)) {
        ResultCode code = FailureFromWindowsError(GetLastError());
        target.bytes().resize(0);
        return code;
    }
    return kNoError;
}

PrincipalId::PrincipalId(const void* sid) {
    ResultCode code = AssignSid(*this, sid);
    if (Failed(code)) throw CheckResultFailedException(kSourceFile, kAssignCheckLine, code);
}

ResultCode CompareSid(const PrincipalId& a, const PrincipalId& b) {
    if (a.empty() || b.empty()) return kInvalidArgument;
    return EqualSid(a.sid(), b.sid()) ? kNoError : kFalse;
}

}  // namespace security
}  // namespace windows
}  // namespace tarn
