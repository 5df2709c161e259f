#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "scripted_system.h"
#include "tarn/system/security/windows/principalid"

namespace {

using principal_test::Bytes;
using principal_test::BytesOf;
using principal_test::ScriptedAccount;
using principal_test::ScriptedSystem;
using principal_test::SidFromText;
using principal_test::UseAccounts;
using tarn::string_t;
using tarn::windows::security::AccountFromSid;
using tarn::windows::security::AccountName;
using tarn::windows::security::PrincipalId;
using tarn::windows::security::SidFromAccount;
using tarn::windows::security::SidFromAccountName;
using tarn::windows::security::SidFromDomainName;

std::wstring Wide(const string_t& text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

AccountName Account(const char16_t* name, const char16_t* domain) {
    AccountName account;
    account.name = name;
    account.domain = domain;
    return account;
}

std::vector<std::wstring> LookedUpNames(const ScriptedSystem& system) {
    std::vector<std::wstring> names;
    for (const auto& call : system.name_lookups) names.push_back(call.name);
    return names;
}

class AccountLookup : public ::testing::Test {
  protected:
    // A name lookup that never gets buffers large enough: each call asks for
    // a little more domain room than the last.
    void KeepReportingInsufficientBuffer(DWORD sid_size) {
        system.lookup_account_name = [this, sid_size](LPCWSTR, PSID, LPDWORD size, LPWSTR,
                                                      LPDWORD count, PSID_NAME_USE) -> BOOL {
            *size = sid_size;
            *count = 4 + 3 * static_cast<DWORD>(system.name_lookups.size());
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        };
    }

    void FailNameLookupsWith(DWORD error) {
        system.lookup_account_name = [error](LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD,
                                             PSID_NAME_USE) -> BOOL {
            SetLastError(error);
            return FALSE;
        };
    }

    void ExpectSoundNameLookupCalls() {
        for (const auto& call : system.name_lookups) {
            EXPECT_TRUE(call.system_name_null);
            EXPECT_LE(call.sid_size, static_cast<DWORD>(SECURITY_MAX_SID_SIZE));
            EXPECT_TRUE(call.domain_buffer_fits) << "count " << call.domain_count;
        }
    }

    ScriptedSystem system;
    Bytes world = SidFromText(L"S-1-1-0");
    Bytes computer = SidFromText(L"S-1-5-21-11-22-33");
    Bytes user = SidFromText(L"S-1-5-21-11-22-33-1001");
    Bytes domain_user = SidFromText(L"S-1-5-21-44-55-66-1105");
};

TEST_F(AccountLookup, AnEmptyNameMakesNoSystemCall) {
    PrincipalId id(world.data());
    EXPECT_EQ(SidFromAccountName(u"", id), tarn::kInvalidArgument);
    EXPECT_EQ(SidFromDomainName(u"", id), tarn::kInvalidArgument);
    EXPECT_EQ(SidFromAccount(AccountName(), id), tarn::kInvalidArgument);
    EXPECT_EQ(BytesOf(id), world);
    EXPECT_EQ(system.SystemCalls(), 0);
}

TEST_F(AccountLookup, AccountNameGivesUpAfterSevenCalls) {
    KeepReportingInsufficientBuffer(28);
    PrincipalId id(world.data());
    SID_NAME_USE kind = SidTypeInvalid;
    EXPECT_EQ(SidFromAccountName(u"VM\\root", id, &kind), tarn::kOperationCancelled);
    EXPECT_EQ(system.name_lookups.size(), 7u);
    EXPECT_EQ(kind, SidTypeInvalid);
    EXPECT_EQ(BytesOf(id), world);
    ExpectSoundNameLookupCalls();
    // Each retry hands over the sizes that the previous call asked for.
    for (std::size_t i = 1; i < system.name_lookups.size(); ++i) {
        EXPECT_EQ(system.name_lookups[i].sid_size, 28u);
        EXPECT_EQ(system.name_lookups[i].domain_count, 4 + 3 * i);
    }
}

TEST_F(AccountLookup, DomainNameGivesUpAfterFiveCalls) {
    KeepReportingInsufficientBuffer(24);
    PrincipalId id;
    EXPECT_EQ(SidFromDomainName(u"VM", id), tarn::kOperationCancelled);
    EXPECT_EQ(system.name_lookups.size(), 5u);
    EXPECT_TRUE(id.empty());
    ExpectSoundNameLookupCalls();
}

TEST_F(AccountLookup, ASidLargerThanAnySidIsNotRetried) {
    KeepReportingInsufficientBuffer(SECURITY_MAX_SID_SIZE + 1);
    PrincipalId id;
    EXPECT_EQ(SidFromAccountName(u"root", id), tarn::kBufferTooSmall);
    EXPECT_EQ(system.name_lookups.size(), 1u);
    EXPECT_EQ(SidFromDomainName(u"VM", id), tarn::kBufferTooSmall);
    EXPECT_EQ(system.name_lookups.size(), 2u);
    ExpectSoundNameLookupCalls();
}

TEST_F(AccountLookup, NoneMappedIsTheWrappedWindowsError) {
    FailNameLookupsWith(ERROR_NONE_MAPPED);
    PrincipalId id(world.data());
    SID_NAME_USE kind = SidTypeInvalid;
    EXPECT_EQ(SidFromAccountName(u"nobody", id, &kind), tarn::MakeResultCode(0x80070534u));
    EXPECT_EQ(SidFromDomainName(u"nowhere", id), tarn::MakeResultCode(0x80070534u));
    EXPECT_EQ(kind, SidTypeInvalid);
    EXPECT_EQ(BytesOf(id), world);
    EXPECT_EQ(system.name_lookups.size(), 2u);
}

TEST_F(AccountLookup, AFailureThatLeavesNoErrorIsStillAFailure) {
    FailNameLookupsWith(ERROR_SUCCESS);
    PrincipalId id;
    EXPECT_EQ(SidFromAccountName(u"root", id), tarn::kUnspecifiedPlatformError);
}

TEST_F(AccountLookup, SizesFirstThenTheSidAndItsKind) {
    UseAccounts(system, {{L"VM\\root", user, L"root", L"VM", SidTypeUser}});
    PrincipalId id;
    SID_NAME_USE kind = SidTypeInvalid;
    ASSERT_EQ(SidFromAccountName(u"VM\\root", id, &kind), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), user);
    EXPECT_EQ(kind, SidTypeUser);
    ASSERT_EQ(system.name_lookups.size(), 2u);
    EXPECT_EQ(system.name_lookups[0].sid_size, 0u);
    EXPECT_EQ(system.name_lookups[0].domain_count, 0u);
    EXPECT_EQ(system.name_lookups[1].sid_size, user.size());
    EXPECT_EQ(system.name_lookups[1].domain_count, 3u);
    ExpectSoundNameLookupCalls();
}

TEST_F(AccountLookup, ALongReferencedDomainIsSizedByTheSystem) {
    std::wstring long_domain(300, L'd');
    UseAccounts(system, {{L"alice", domain_user, L"alice", long_domain, SidTypeUser}});
    PrincipalId id;
    ASSERT_EQ(SidFromAccountName(u"alice", id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), domain_user);
    ASSERT_EQ(system.name_lookups.size(), 2u);
    EXPECT_EQ(system.name_lookups[1].domain_count, 301u);
    ExpectSoundNameLookupCalls();
}

TEST_F(AccountLookup, NameAndDomainAreJoinedWithOneBackslash) {
    UseAccounts(system, {{L"CORP\\alice", domain_user, L"alice", L"CORP", SidTypeUser}});
    PrincipalId id;
    ASSERT_EQ(SidFromAccount(Account(u"alice", u"CORP"), id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), domain_user);
    EXPECT_EQ(LookedUpNames(system), (std::vector<std::wstring>{L"CORP\\alice", L"CORP\\alice"}));
}

TEST_F(AccountLookup, ANameAloneIsPassedAsTyped) {
    UseAccounts(system, {{L"alice@corp.example", domain_user, L"alice", L"CORP", SidTypeUser}});
    PrincipalId id;
    ASSERT_EQ(SidFromAccount(Account(u"alice@corp.example", u""), id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), domain_user);
    EXPECT_EQ(system.name_lookups.back().name, L"alice@corp.example");
}

TEST_F(AccountLookup, ANameAloneThatIsTheComputerIsLookedUpAsNameBackslashName) {
    UseAccounts(system, {{L"VM", computer, L"VM", L"VM", SidTypeComputer},
                         {L"VM\\VM", user, L"VM", L"VM", SidTypeUser}});
    PrincipalId id;
    ASSERT_EQ(SidFromAccount(Account(u"VM", u""), id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), user);
    EXPECT_EQ(LookedUpNames(system),
              (std::vector<std::wstring>{L"VM", L"VM", L"VM\\VM", L"VM\\VM"}));
}

TEST_F(AccountLookup, ANameAloneThatIsADomainIsLookedUpAsNameBackslashName) {
    UseAccounts(system, {{L"CORP", computer, L"", L"CORP", SidTypeDomain},
                         {L"CORP\\CORP", domain_user, L"CORP", L"CORP", SidTypeUser}});
    PrincipalId id;
    ASSERT_EQ(SidFromAccount(Account(u"CORP", u""), id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), domain_user);
}

TEST_F(AccountLookup, TheSecondLookupOfAComputerNameReportsItsOwnFailure) {
    UseAccounts(system, {{L"VM", computer, L"VM", L"VM", SidTypeComputer}});
    PrincipalId id(world.data());
    EXPECT_EQ(SidFromAccount(Account(u"VM", u""), id), tarn::MakeResultCode(0x80070534u));
    EXPECT_EQ(BytesOf(id), world);
}

TEST_F(AccountLookup, ANameAloneThatFailsGivesTheFailureUnchanged) {
    FailNameLookupsWith(ERROR_ACCESS_DENIED);
    PrincipalId id(world.data());
    EXPECT_EQ(SidFromAccount(Account(u"root", u""), id), tarn::kAccessDenied);
    EXPECT_EQ(BytesOf(id), world);
    EXPECT_EQ(system.name_lookups.size(), 1u);
}

TEST_F(AccountLookup, ADomainAloneMustBeADomainOrTheComputer) {
    UseAccounts(system, {{L"VM\\", computer, L"VM", L"VM", SidTypeComputer},
                         {L"CORP\\", domain_user, L"", L"CORP", SidTypeDomain},
                         {L"root\\", user, L"root", L"VM", SidTypeUser}});
    PrincipalId id;
    ASSERT_EQ(SidFromAccount(Account(u"", u"VM"), id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), computer);
    ASSERT_EQ(SidFromAccount(Account(u"", u"CORP"), id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), domain_user);

    // A domain that resolves to a user: not found, and the caller's SID stays.
    EXPECT_EQ(SidFromAccount(Account(u"", u"root"), id), tarn::kNotFound);
    EXPECT_EQ(BytesOf(id), domain_user);
    EXPECT_EQ(system.name_lookups.back().name, L"root\\");

    // Any failure of the lookup is "not found" too.
    EXPECT_EQ(SidFromAccount(Account(u"", u"nowhere"), id), tarn::kNotFound);
    EXPECT_EQ(BytesOf(id), domain_user);
}

TEST_F(AccountLookup, AccountFromSidRefusesEmptyAndInvalidSidsWithoutASystemCall) {
    PrincipalId empty;
    AccountName account;
    EXPECT_EQ(AccountFromSid(empty, account), tarn::kInvalidArgument);
    PrincipalId invalid(world.data());
    invalid.bytes().data()[0] = 2;  // unknown revision
    EXPECT_EQ(AccountFromSid(invalid, account), tarn::kInvalidArgument);
    EXPECT_EQ(system.SystemCalls(), 0);
}

TEST_F(AccountLookup, AccountFromSidSizesBothStringsThenFillsThem) {
    UseAccounts(system, {{L"VM\\root", user, L"administrator-of-vm", L"VM", SidTypeUser}});
    PrincipalId id(user.data());
    AccountName account = Account(u"a previous name that is long", u"a previous domain");
    ASSERT_EQ(AccountFromSid(id, account), tarn::kNoError);
    EXPECT_EQ(Wide(account.name), L"administrator-of-vm");
    EXPECT_EQ(Wide(account.domain), L"VM");
    ASSERT_EQ(system.sid_lookups.size(), 2u);
    EXPECT_EQ(system.sid_lookups[0].name_count, 0u);
    EXPECT_EQ(system.sid_lookups[0].domain_count, 0u);
    EXPECT_EQ(system.sid_lookups[1].name_count, 20u);
    EXPECT_EQ(system.sid_lookups[1].domain_count, 3u);
    for (const auto& call : system.sid_lookups) {
        EXPECT_TRUE(call.system_name_null);
        EXPECT_EQ(call.sid, user);
        EXPECT_TRUE(call.name_buffer_fits);
        EXPECT_TRUE(call.domain_buffer_fits);
    }
}

TEST_F(AccountLookup, AccountFromSidGivesUpAfterSevenCalls) {
    system.lookup_account_sid = [this](PSID, LPWSTR, LPDWORD name_count, LPWSTR,
                                       LPDWORD domain_count, PSID_NAME_USE) -> BOOL {
        auto calls = static_cast<DWORD>(system.sid_lookups.size());
        *name_count = 10 + calls;
        *domain_count = calls % 2 ? 0 : 5 + calls;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    };
    PrincipalId id(user.data());
    AccountName account;
    EXPECT_EQ(AccountFromSid(id, account), tarn::kOperationCancelled);
    EXPECT_EQ(system.sid_lookups.size(), 7u);
    for (const auto& call : system.sid_lookups) {
        EXPECT_TRUE(call.name_buffer_fits) << call.name_count;
        EXPECT_TRUE(call.domain_buffer_fits) << call.domain_count;
    }
}

TEST_F(AccountLookup, AccountFromSidMapsOtherErrors) {
    system.lookup_account_sid = [](PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE) -> BOOL {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    };
    PrincipalId id(user.data());
    AccountName account;
    EXPECT_EQ(AccountFromSid(id, account), tarn::MakeResultCode(0x80070534u));
    EXPECT_EQ(system.sid_lookups.size(), 1u);
}

TEST_F(AccountLookup, ASuccessThatOnlyReportsSizesIsASizingAnswer) {
    // As Wine answers LookupAccountSidW when given counts of 0: success,
    // the sizes needed, nothing written.
    UseAccounts(system,
                {{L"BUILTIN\\Administrators", user, L"Administrators", L"BUILTIN", SidTypeAlias}});
    auto by_table = system.lookup_account_sid;
    system.lookup_account_sid = [by_table](PSID sid, LPWSTR name, LPDWORD name_count, LPWSTR domain,
                                           LPDWORD domain_count, PSID_NAME_USE kind) -> BOOL {
        if (*name_count == 0) {
            *name_count = 15;
            *domain_count = 8;
            return TRUE;
        }
        return by_table(sid, name, name_count, domain, domain_count, kind);
    };
    PrincipalId id(user.data());
    AccountName account;
    ASSERT_EQ(AccountFromSid(id, account), tarn::kNoError);
    EXPECT_EQ(Wide(account.name), L"Administrators");
    EXPECT_EQ(Wide(account.domain), L"BUILTIN");
    ASSERT_EQ(system.sid_lookups.size(), 2u);
    EXPECT_EQ(system.sid_lookups[1].name_count, 15u);
    EXPECT_EQ(system.sid_lookups[1].domain_count, 8u);

    auto by_name_table = system.lookup_account_name;
    system.lookup_account_name = [by_name_table](LPCWSTR name, PSID sid, LPDWORD sid_size,
                                                 LPWSTR domain, LPDWORD domain_count,
                                                 PSID_NAME_USE kind) -> BOOL {
        if (*sid_size == 0) {
            *sid_size = 28;
            *domain_count = 8;
            return TRUE;
        }
        return by_name_table(name, sid, sid_size, domain, domain_count, kind);
    };
    PrincipalId found;
    ASSERT_EQ(SidFromAccountName(u"BUILTIN\\Administrators", found), tarn::kNoError);
    EXPECT_EQ(BytesOf(found), user);
    EXPECT_EQ(system.name_lookups.size(), 2u);
    ExpectSoundNameLookupCalls();
}

TEST_F(AccountLookup, ASizingAnswerIsOneUntilTheSidAndTheDomainBothFit) {
    // Success with the SID's size and no referenced domain (a count of 0,
    // which fits any buffer), nothing written: still only sizes.
    auto calls = std::make_shared<int>(0);
    system.lookup_account_name = [this, calls](LPCWSTR, PSID sid, LPDWORD sid_size, LPWSTR,
                                               LPDWORD domain_count, PSID_NAME_USE kind) -> BOOL {
        if (++*calls == 1) {
            *sid_size = static_cast<DWORD>(world.size());
            *domain_count = 0;
            return TRUE;
        }
        std::copy(world.begin(), world.end(), static_cast<std::uint8_t*>(sid));
        *sid_size = static_cast<DWORD>(world.size());
        *domain_count = 0;
        *kind = SidTypeWellKnownGroup;
        return TRUE;
    };
    PrincipalId found;
    ASSERT_EQ(SidFromAccountName(u"Everyone", found), tarn::kNoError);
    EXPECT_EQ(BytesOf(found), world);
    EXPECT_EQ(system.name_lookups.size(), 2u);
}

TEST_F(AccountLookup, AccountFromSidCutsBothTextsAtTheirTerminators) {
    // The sizes asked for first are larger than the texts written after.
    system.lookup_account_sid = [this](PSID, LPWSTR name, LPDWORD name_count, LPWSTR domain,
                                       LPDWORD domain_count, PSID_NAME_USE kind) -> BOOL {
        if (system.sid_lookups.size() == 1) {
            *name_count = 20;
            *domain_count = 10;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::wstring(L"root").copy(name, 5);
        name[4] = L'\0';
        std::wstring(L"VM").copy(domain, 3);
        domain[2] = L'\0';
        *name_count = 4;
        *domain_count = 2;
        *kind = SidTypeUser;
        return TRUE;
    };
    PrincipalId id(user.data());
    AccountName account;
    ASSERT_EQ(AccountFromSid(id, account), tarn::kNoError);
    EXPECT_EQ(Wide(account.name), L"root");
    EXPECT_EQ(Wide(account.domain), L"VM");
    EXPECT_EQ(system.sid_lookups.size(), 2u);
}

TEST_F(AccountLookup, SizingAnswersDisguisedAsSuccessStillCountTowardsTheLimit) {
    system.lookup_account_sid = [](PSID, LPWSTR, LPDWORD name_count, LPWSTR, LPDWORD domain_count,
                                   PSID_NAME_USE) -> BOOL {
        *name_count += 2;
        *domain_count += 2;
        return TRUE;
    };
    PrincipalId id(user.data());
    AccountName account;
    EXPECT_EQ(AccountFromSid(id, account), tarn::kOperationCancelled);
    EXPECT_EQ(system.sid_lookups.size(), 7u);

    system.lookup_account_name = [](LPCWSTR, PSID, LPDWORD sid_size, LPWSTR, LPDWORD domain_count,
                                    PSID_NAME_USE) -> BOOL {
        *sid_size += 4;
        *domain_count += 1;
        return TRUE;
    };
    EXPECT_EQ(SidFromDomainName(u"VM", id), tarn::kOperationCancelled);
    EXPECT_EQ(system.name_lookups.size(), 5u);
    ExpectSoundNameLookupCalls();
}

}  // namespace
