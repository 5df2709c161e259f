// A SID the system refuses to copy: the failure is reported as a result code
// and the target is left empty, not holding uncopied bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include "import_patch.h"
#include "scripted_system.h"
#include "tarn/system/security/windows/principalid"

namespace {

using principal_test::Bytes;
using principal_test::SidFromText;
using tarn::windows::security::AssignSid;
using tarn::windows::security::PrincipalId;

DWORD g_copy_error = ERROR_SUCCESS;

BOOL WINAPI RefusingCopySid(DWORD, PSID, PSID) {
    SetLastError(g_copy_error);
    return FALSE;
}

TEST(SidCopyFailure, CopyFailureIsReportedAndEmptiesTheTarget) {
    Bytes users = SidFromText(L"S-1-5-32-545");
    Bytes administrators = SidFromText(L"S-1-5-32-544");
    PrincipalId target(users.data());
    PrincipalId other(users.data());
    testing_support::ImportPatch copy("ADVAPI32.dll", "CopySid",
                                      reinterpret_cast<const void*>(&RefusingCopySid));
    g_copy_error = ERROR_ACCESS_DENIED;
    EXPECT_EQ(AssignSid(target, administrators.data()), tarn::kAccessDenied);
    EXPECT_TRUE(target.empty());

    // A refusal that leaves no error still reads as a failure.
    g_copy_error = ERROR_SUCCESS;
    EXPECT_EQ(AssignSid(other, administrators.data()), tarn::kUnspecifiedPlatformError);
    EXPECT_TRUE(other.empty());
}

}  // namespace
