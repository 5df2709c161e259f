// Against the account database of the system the tests run on, with nothing
// replaced. Under Wine the session user is a member of Administrators and
// name lookups are case-sensitive.
#include <gtest/gtest.h>

#include <string>

#include "launcher/account_check.h"
#include "scripted_system.h"
#include "tarn/system/security/windows/principalid"
#include "tarn/text_conversion.h"

namespace {

using principal_test::Bytes;
using principal_test::BytesOf;
using principal_test::SidFromText;
using tarn::windows::security::AccountFromSid;
using tarn::windows::security::AccountName;
using tarn::windows::security::IsLocalGroupMember;
using tarn::windows::security::PrincipalId;
using tarn::windows::security::SidFromAccount;
using tarn::windows::security::SidFromAccountName;
using tarn::windows::security::SidFromDomainName;
using tarn::windows::security::SidFromWellKnown;
using tarn::windows::security::WellKnownPrincipal;

std::wstring SessionUser() {
    wchar_t name[256] = {};
    DWORD size = 256;
    if (!GetUserNameW(name, &size)) return std::wstring();
    return name;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return std::wstring();
    return std::wstring(name, size);
}

bool Check(const std::wstring& user_name, const std::wstring& domain) {
    launcher::Credentials credentials;
    credentials.user_name = user_name;
    credentials.domain = domain;
    return launcher::IsAdministratorAccount(credentials);
}

TEST(RealAccounts, TheSessionUserIsAnAdministrator) {
    std::wstring user = SessionUser();
    ASSERT_FALSE(user.empty());
    EXPECT_TRUE(Check(user, L""));
}

TEST(RealAccounts, TheSessionUserOnTheComputerIsAnAdministrator) {
    std::wstring user = SessionUser();
    std::wstring computer = ComputerName();
    ASSERT_FALSE(user.empty());
    ASSERT_FALSE(computer.empty());
    EXPECT_TRUE(Check(user, computer));
}

TEST(RealAccounts, AnUnknownNameIsRefused) {
    EXPECT_FALSE(Check(L"no-such-account-7f3a", L""));
    // Wine ignores an unknown domain before a known user name, so the
    // unknown part here is the name.
    EXPECT_FALSE(Check(L"no-such-account-7f3a", ComputerName()));
    PrincipalId id;
    EXPECT_EQ(SidFromAccountName(u"no-such-account-7f3a", id), tarn::MakeResultCode(0x80070534u));
    EXPECT_TRUE(id.empty());
}

TEST(RealAccounts, AdministratorsResolvesToS_1_5_32_544) {
    const Bytes expected = SidFromText(L"S-1-5-32-544");
    PrincipalId id;
    SID_NAME_USE kind = SidTypeInvalid;
    ASSERT_EQ(SidFromAccountName(u"Administrators", id, &kind), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), expected);
    EXPECT_EQ(kind, SidTypeAlias);

    PrincipalId qualified;
    ASSERT_EQ(SidFromAccountName(u"BUILTIN\\Administrators", qualified), tarn::kNoError);
    EXPECT_EQ(BytesOf(qualified), expected);

    AccountName account;
    account.name = u"Administrators";
    account.domain = u"BUILTIN";
    PrincipalId joined;
    ASSERT_EQ(SidFromAccount(account, joined), tarn::kNoError);
    EXPECT_EQ(BytesOf(joined), expected);

    PrincipalId well_known;
    ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::BuiltinAdministrators, well_known),
              tarn::kNoError);
    EXPECT_EQ(BytesOf(well_known), expected);
}

TEST(RealAccounts, TheAdministratorsGroupIsNamedBackInTheBuiltinDomain) {
    PrincipalId id(SidFromText(L"S-1-5-32-544").data());
    AccountName account;
    ASSERT_EQ(AccountFromSid(id, account), tarn::kNoError);
    EXPECT_EQ(tarn::ToWideString(account.name), L"Administrators");
    EXPECT_EQ(tarn::ToWideString(account.domain), L"BUILTIN");

    PrincipalId domain;
    ASSERT_EQ(SidFromDomainName(account.domain, domain), tarn::kNoError);
    EXPECT_EQ(BytesOf(domain), SidFromText(L"S-1-5-32"));
}

TEST(RealAccounts, TheSessionUserBelongsToTheComputersDomain) {
    std::wstring computer = ComputerName();
    ASSERT_FALSE(computer.empty());
    PrincipalId computer_sid;
    ASSERT_EQ(SidFromDomainName(tarn::ToFrameworkString(computer), computer_sid), tarn::kNoError);

    AccountName account;
    account.name = tarn::ToFrameworkString(SessionUser());
    PrincipalId user;
    ASSERT_EQ(SidFromAccount(account, user), tarn::kNoError);
    ASSERT_TRUE(IsValidSid(user.sid()));
    // The user's SID is the computer's domain SID and one more sub-authority.
    ASSERT_EQ(user.size(), computer_sid.size() + 4);
    Bytes expected = BytesOf(computer_sid);
    expected[1] += 1;
    expected.insert(expected.end(), user.data() + computer_sid.size(), user.data() + user.size());
    EXPECT_EQ(BytesOf(user), expected);

    AccountName back;
    ASSERT_EQ(AccountFromSid(user, back), tarn::kNoError);
    EXPECT_EQ(tarn::ToWideString(back.name), SessionUser());
    EXPECT_EQ(tarn::ToWideString(back.domain), computer);
}

TEST(RealAccounts, MembershipAsTheSystemAnswersIt) {
    AccountName account;
    account.name = tarn::ToFrameworkString(SessionUser());
    PrincipalId user;
    ASSERT_EQ(SidFromAccount(account, user), tarn::kNoError);

    PrincipalId admins;
    ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::BuiltinAdministrators, admins), tarn::kNoError);
    EXPECT_EQ(IsLocalGroupMember(user, admins), tarn::kNoError);

    PrincipalId world;
    ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::World, world), tarn::kNoError);
    EXPECT_EQ(IsLocalGroupMember(user, world), tarn::kNoError);

    // Wine lists only Administrators for any account.
    PrincipalId guests;
    ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::BuiltinGuests, guests), tarn::kNoError);
    EXPECT_EQ(IsLocalGroupMember(user, guests), tarn::kFalse);
}

}  // namespace
