#include "launcher/run_as_launch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <stdexcept>
#include <string>

#include "fake_credui.h"
#include "fake_logon.h"
#include "guarded_block.h"
#include "import_patch.h"
#include "session_user.h"

namespace launcher_tests {
namespace {

constexpr wchar_t kProgram[] = L"C:\\Tools\\a.exe";
constexpr wchar_t kCommandLine[] = L"C:\\Tools\\a.exe \"x y\"";

class RunAsLaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"AuthDialogCaption", L"Caption text");
        SetEnvironmentVariableW(L"EmptyPasswordRestrictionMessage", L"Blank passwords are refused");
        user_ = SessionUser();
        ASSERT_FALSE(user_.empty());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"AuthDialogCaption", nullptr);
        SetEnvironmentVariableW(L"EmptyPasswordRestrictionMessage", nullptr);
    }

    DWORD Launch() { return launcher::LaunchWithLogon(0, kProgram, kCommandLine); }

    FakeCredUi credui_;
    FakeLogon logon_;
    std::wstring user_;
};

TEST_F(RunAsLaunchTest, CancelAtOnceReturns1223WithoutLogon) {
    credui_.AnswerCancel();
    EXPECT_EQ(Launch(), 1223u);
    EXPECT_EQ(credui_.state().calls.size(), 1u);
    EXPECT_TRUE(logon_.calls().empty());
}

TEST_F(RunAsLaunchTest, FirstDialogShowsNoErrorAndNoMessage) {
    credui_.AnswerCancel();
    Launch();
    ASSERT_EQ(credui_.state().calls.size(), 1u);
    EXPECT_EQ(credui_.state().calls[0].auth_error, 0u);
    EXPECT_EQ(credui_.state().calls[0].message, L"");
    EXPECT_EQ(credui_.state().calls[0].caption, L"Caption text");
}

TEST_F(RunAsLaunchTest, AcceptedAccountStartsChildAndReturnsItsExitCode) {
    credui_.AnswerCredentials(user_, L"", L"secret");
    logon_.Start(42);
    EXPECT_EQ(Launch(), 42u);
    ASSERT_EQ(logon_.calls().size(), 1u);
    const LogonCall& call = logon_.calls()[0];
    EXPECT_EQ(call.user_name, user_);
    EXPECT_FALSE(call.domain_is_null);
    EXPECT_EQ(call.domain, L"");
    EXPECT_EQ(call.password, L"secret");
    EXPECT_EQ(call.logon_flags, static_cast<DWORD>(LOGON_WITH_PROFILE));
    EXPECT_EQ(call.application_name, kProgram);
    EXPECT_EQ(call.command_line, kCommandLine);
    EXPECT_NE(call.command_line_pointer, static_cast<const void*>(kCommandLine));
    EXPECT_EQ(call.creation_flags, static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(call.environment, nullptr);
    EXPECT_EQ(call.current_directory, nullptr);
    EXPECT_EQ(call.startup_cb, sizeof(STARTUPINFOW));
    EXPECT_FALSE(call.desktop_is_null);
    EXPECT_EQ(call.desktop, L"");
}

// Whether `handle` is still open in this process.
bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST_F(RunAsLaunchTest, BothHandlesOfTheChildAreClosedOnReturn) {
    credui_.AnswerCredentials(user_, L"", L"secret");
    logon_.Start(0);
    EXPECT_EQ(Launch(), 0u);
    ASSERT_EQ(logon_.calls().size(), 1u);
    ASSERT_NE(logon_.calls()[0].process, nullptr);
    ASSERT_NE(logon_.calls()[0].thread, nullptr);
    EXPECT_FALSE(IsOpen(logon_.calls()[0].process));
    EXPECT_FALSE(IsOpen(logon_.calls()[0].thread));
}

TEST_F(RunAsLaunchTest, ChildExitCodesPassThroughUnchanged) {
    for (DWORD code : {0ul, 1ul, 1223ul, 1602ul}) {
        credui_.AnswerCredentials(user_, L"", L"pw");
        logon_.Start(code);
        EXPECT_EQ(Launch(), code);
    }
}

TEST_F(RunAsLaunchTest, WrongPasswordPromptsAgainWithThatError) {
    credui_.AnswerCredentials(user_, L"", L"wrong");
    credui_.AnswerCredentials(user_, L"", L"right");
    logon_.Fail(ERROR_LOGON_FAILURE);
    logon_.Start(0);
    EXPECT_EQ(Launch(), 0u);
    ASSERT_EQ(credui_.state().calls.size(), 2u);
    EXPECT_EQ(credui_.state().calls[1].auth_error, static_cast<DWORD>(ERROR_LOGON_FAILURE));
    EXPECT_EQ(credui_.state().calls[1].message, L"");
    ASSERT_EQ(logon_.calls().size(), 2u);
    EXPECT_EQ(logon_.calls()[1].password, L"right");
}

TEST_F(RunAsLaunchTest, EveryLogonErrorFrom1326To1331PromptsAgain) {
    for (DWORD error = 1326; error <= 1331; ++error) {
        credui_.AnswerCredentials(user_, L"", L"pw");
        credui_.AnswerCancel();
        logon_.Fail(error);
        EXPECT_EQ(Launch(), 1223u) << error;
    }
    ASSERT_EQ(credui_.state().calls.size(), 12u);
    for (DWORD i = 0; i < 6; ++i) {
        EXPECT_EQ(credui_.state().calls[2 * i + 1].auth_error, 1326 + i);
    }
}

TEST_F(RunAsLaunchTest, AccountRestrictionShowsTheEmptyPasswordMessage) {
    credui_.AnswerCredentials(user_, L"", L"");
    credui_.AnswerCancel();
    logon_.Fail(ERROR_ACCOUNT_RESTRICTION);
    EXPECT_EQ(Launch(), 1223u);
    ASSERT_EQ(credui_.state().calls.size(), 2u);
    EXPECT_EQ(credui_.state().calls[1].auth_error, static_cast<DWORD>(ERROR_ACCOUNT_RESTRICTION));
    EXPECT_EQ(credui_.state().calls[1].message, L"Blank passwords are refused");
}

TEST_F(RunAsLaunchTest, AccountRestrictionWithoutMessageVariableShowsEmptyText) {
    SetEnvironmentVariableW(L"EmptyPasswordRestrictionMessage", nullptr);
    credui_.AnswerCredentials(user_, L"", L"");
    credui_.AnswerCancel();
    logon_.Fail(ERROR_ACCOUNT_RESTRICTION);
    EXPECT_EQ(Launch(), 1223u);
    ASSERT_EQ(credui_.state().calls.size(), 2u);
    EXPECT_EQ(credui_.state().calls[1].message, L"");
}

TEST_F(RunAsLaunchTest, OtherLogonErrorEndsWithoutPromptingAgain) {
    // Including the neighbours of the range that prompts again (1326-1331).
    const DWORD errors[] = {ERROR_ACCESS_DENIED, ERROR_PASSWORD_RESTRICTION, ERROR_NONE_MAPPED};
    for (DWORD error : errors) {
        credui_.AnswerCredentials(user_, L"", L"pw");
        logon_.Fail(error);
        EXPECT_EQ(Launch(), error) << error;
    }
    EXPECT_EQ(credui_.state().calls.size(), 3u);
}

TEST_F(RunAsLaunchTest, LogonFailureWithoutLastErrorIsNeverSuccess) {
    credui_.AnswerCredentials(user_, L"", L"pw");
    logon_.Fail(ERROR_SUCCESS);
    EXPECT_EQ(Launch(), static_cast<DWORD>(ERROR_INTERNAL_ERROR));
}

TEST_F(RunAsLaunchTest, RefusedAccountPromptsAgainWith1321AndNoLogon) {
    credui_.AnswerCredentials(UnknownUser(), L"", L"pw");
    credui_.AnswerCredentials(UnknownUser(), L"", L"pw");
    credui_.AnswerCancel();
    EXPECT_EQ(Launch(), 1223u);
    EXPECT_TRUE(logon_.calls().empty());
    ASSERT_EQ(credui_.state().calls.size(), 3u);
    EXPECT_EQ(credui_.state().calls[1].auth_error, static_cast<DWORD>(ERROR_MEMBER_NOT_IN_GROUP));
    EXPECT_EQ(credui_.state().calls[2].auth_error, static_cast<DWORD>(ERROR_MEMBER_NOT_IN_GROUP));
}

TEST_F(RunAsLaunchTest, FailingDialogEndsTheLaunchWithItsError) {
    DialogAnswer failure;
    failure.kind = DialogAnswer::kFail;
    failure.fail_result = ERROR_NOT_SUPPORTED;
    failure.fail_last_error = ERROR_NO_SUCH_LOGON_SESSION;
    credui_.Answer(failure);
    EXPECT_EQ(Launch(), static_cast<DWORD>(ERROR_NO_SUCH_LOGON_SESSION));
    EXPECT_TRUE(logon_.calls().empty());
}

TEST_F(RunAsLaunchTest, DialogFailureWithoutLastErrorReturnsTheDialogsValue) {
    DialogAnswer failure;
    failure.kind = DialogAnswer::kFail;
    failure.fail_result = 120;
    failure.fail_last_error = 0;
    credui_.Answer(failure);
    EXPECT_EQ(Launch(), 120u);
}

TEST_F(RunAsLaunchTest, MissingCaptionThrowsBeforeAnyDialog) {
    SetEnvironmentVariableW(L"AuthDialogCaption", nullptr);
    EXPECT_THROW(Launch(), std::runtime_error);
    EXPECT_TRUE(credui_.state().calls.empty());
}

TEST_F(RunAsLaunchTest, LibraryIsLoadedAndFreedOncePerDialog) {
    credui_.AnswerCredentials(user_, L"", L"wrong");
    credui_.AnswerCredentials(user_, L"", L"right");
    logon_.Fail(ERROR_LOGON_FAILURE);
    logon_.Start(0);
    Launch();
    EXPECT_EQ(credui_.state().loads, 2);
    EXPECT_EQ(credui_.state().frees, 2);
}

std::wstring ThisExecutable() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

// A program that asks for elevation (740): the same logon starts this
// executable with the elevated start's verb, whose exit code is the launch's.
TEST_F(RunAsLaunchTest, ElevationRequiredStartsThisExecutableForTheElevatedStart) {
    credui_.AnswerCredentials(user_, L"", L"secret");
    logon_.Fail(740);
    logon_.Start(1602);
    EXPECT_EQ(launcher::LaunchWithLogon(4321, kProgram, kCommandLine), 1602u);
    ASSERT_EQ(logon_.calls().size(), 2u);
    EXPECT_EQ(credui_.state().calls.size(), 1u);
    const LogonCall& program = logon_.calls()[0];
    const LogonCall& elevated_start = logon_.calls()[1];
    EXPECT_EQ(elevated_start.application_name, ThisExecutable());
    EXPECT_EQ(elevated_start.command_line, std::wstring(L"elevate 4321 ") + kCommandLine);
    EXPECT_EQ(elevated_start.user_name, program.user_name);
    EXPECT_EQ(elevated_start.domain, program.domain);
    EXPECT_EQ(elevated_start.password, L"secret");
    EXPECT_EQ(elevated_start.logon_flags, program.logon_flags);
    EXPECT_EQ(elevated_start.creation_flags, program.creation_flags);
    EXPECT_EQ(elevated_start.current_directory, nullptr);
    EXPECT_FALSE(elevated_start.desktop_is_null);
}

TEST_F(RunAsLaunchTest, FailedElevatedStartEndsTheLaunchWithoutPromptingAgain) {
    // 740 once more, and even a logon error, end it: no loop, no new dialog.
    for (DWORD error : {740ul, static_cast<DWORD>(ERROR_LOGON_FAILURE), 0ul}) {
        credui_.AnswerCredentials(user_, L"", L"pw");
        logon_.Fail(740);
        logon_.Fail(error);
        EXPECT_EQ(Launch(), error ? error : static_cast<DWORD>(ERROR_INTERNAL_ERROR)) << error;
    }
    EXPECT_EQ(credui_.state().calls.size(), 3u);
    EXPECT_EQ(logon_.calls().size(), 6u);
}

// The command line is copied up to its terminator and no further: here it
// ends right before a page that faults when touched.
TEST_F(RunAsLaunchTest, CommandLineIsReadNoFurtherThanItsTerminator) {
    const std::wstring line = kCommandLine;
    const std::size_t bytes = (line.size() + 1) * sizeof(wchar_t);
    auto* guarded = static_cast<wchar_t*>(testing_support::AllocateGuarded(bytes));
    ASSERT_NE(guarded, nullptr);
    std::copy(line.c_str(), line.c_str() + line.size() + 1, guarded);
    credui_.AnswerCredentials(user_, L"", L"pw");
    logon_.Start(0);
    EXPECT_EQ(launcher::LaunchWithLogon(0, kProgram, guarded), 0u);
    ASSERT_EQ(logon_.calls().size(), 1u);
    EXPECT_EQ(logon_.calls()[0].command_line, line);
    testing_support::FreeGuarded(guarded);
}

// The wait and the exit-code query report their own failures.
DWORD g_wait_error = 0;
DWORD WINAPI FailingWait(HANDLE, DWORD) {
    SetLastError(g_wait_error);
    return WAIT_FAILED;
}

TEST_F(RunAsLaunchTest, FailedWaitReturnsItsErrorOrInternalError) {
    testing_support::ImportPatch wait("KERNEL32.dll", "WaitForSingleObject",
                                      reinterpret_cast<const void*>(&FailingWait));
    for (DWORD error : {static_cast<DWORD>(ERROR_INVALID_HANDLE), 0ul}) {
        g_wait_error = error;
        credui_.AnswerCredentials(user_, L"", L"pw");
        logon_.Start(0);
        EXPECT_EQ(Launch(), error ? error : static_cast<DWORD>(ERROR_INTERNAL_ERROR));
    }
}

BOOL WINAPI FailingExitCode(HANDLE, LPDWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(RunAsLaunchTest, FailedExitCodeQueryReturnsItsError) {
    testing_support::ImportPatch exit_code("KERNEL32.dll", "GetExitCodeProcess",
                                           reinterpret_cast<const void*>(&FailingExitCode));
    credui_.AnswerCredentials(user_, L"", L"pw");
    logon_.Start(0);
    EXPECT_EQ(Launch(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace launcher_tests
