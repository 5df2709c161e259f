#include "launcher/account_check.h"

#include <gtest/gtest.h>

#include "import_patch.h"
#include "scripted_system.h"

namespace {

using principal_test::Bytes;
using principal_test::GroupList;
using principal_test::ScriptedAccount;
using principal_test::ScriptedSystem;
using principal_test::SidFromText;
using principal_test::UseAccounts;

int g_refused_allocations = 0;

LPVOID WINAPI RefuseHeapAlloc(HANDLE, DWORD, SIZE_T) {
    ++g_refused_allocations;
    return nullptr;
}

class AccountCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        UseAccounts(system, {{L"BUILTIN\\Administrators", admins, L"Administrators", L"BUILTIN",
                              SidTypeAlias},
                             {L"BUILTIN", builtin, L"", L"BUILTIN", SidTypeDomain},
                             {L"VM", computer, L"VM", L"VM", SidTypeComputer},
                             {L"VM\\", computer, L"VM", L"VM", SidTypeComputer},
                             {L"VM\\VM", computer_named_user, L"VM", L"VM", SidTypeUser},
                             {L"VM\\root", user, L"root", L"VM", SidTypeUser},
                             {L"root", user, L"root", L"VM", SidTypeUser},
                             {L"root\\", user, L"root", L"VM", SidTypeUser},
                             {L"VM\\ghost", ghost, L"ghost", L"VM", SidTypeUser}});
        system.lookup_account_sid = [this, by_table = system.lookup_account_sid](
                                        PSID sid, LPWSTR name, LPDWORD name_count, LPWSTR domain,
                                        LPDWORD domain_count, PSID_NAME_USE kind) -> BOOL {
            // The ghost resolves by name but not by SID.
            if (EqualSid(sid, ghost.data())) {
                SetLastError(ERROR_NONE_MAPPED);
                return FALSE;
            }
            return by_table(sid, name, name_count, domain, domain_count, kind);
        };
        AnswerGroups(NERR_Success, administrators_only);
    }

    void AnswerGroups(NET_API_STATUS status, GroupList& list, DWORD missing = 0) {
        system.get_local_groups = [status, &list, missing](LPCWSTR, LPBYTE* out, LPDWORD read,
                                                           LPDWORD total) {
            *out = list.buffer();
            *read = list.count();
            *total = list.count() + missing;
            return status;
        };
    }

    bool Check(const wchar_t* user_name, const wchar_t* domain) {
        launcher::Credentials credentials;
        credentials.user_name = user_name;
        credentials.domain = domain;
        credentials.password = L"not read";
        bool answer = launcher::IsAdministratorAccount(credentials);
        EXPECT_EQ(credentials.user_name, user_name);
        EXPECT_EQ(credentials.domain, domain);
        return answer;
    }

    std::vector<std::wstring> GroupListUsers() const {
        std::vector<std::wstring> users;
        for (const auto& call : system.group_lists) users.push_back(call.user);
        return users;
    }

    ScriptedSystem system;
    Bytes admins = SidFromText(L"S-1-5-32-544");
    Bytes builtin = SidFromText(L"S-1-5-32");
    Bytes computer = SidFromText(L"S-1-5-21-11-22-33");
    Bytes computer_named_user = SidFromText(L"S-1-5-21-11-22-33-1003");
    Bytes user = SidFromText(L"S-1-5-21-11-22-33-1001");
    Bytes ghost = SidFromText(L"S-1-5-21-11-22-33-1666");
    GroupList administrators_only{{L"Administrators"}};
    GroupList users_only{{L"Users"}};
};

TEST_F(AccountCheck, AMemberOfAdministratorsIsAccepted) {
    EXPECT_TRUE(Check(L"root", L"VM"));
    EXPECT_EQ(system.name_lookups.front().name, L"VM\\root");
    EXPECT_EQ(GroupListUsers(), std::vector<std::wstring>{L"VM\\root"});
    EXPECT_EQ(system.freed_buffers, std::vector<void*>{administrators_only.buffer()});

    EXPECT_TRUE(Check(L"root", L""));
    EXPECT_EQ(GroupListUsers(), (std::vector<std::wstring>{L"VM\\root", L"VM\\root"}));
}

TEST_F(AccountCheck, TheComputersOwnNameMeansTheAccountOfThatName) {
    EXPECT_TRUE(Check(L"VM", L""));
    ASSERT_GE(system.name_lookups.size(), 4u);
    EXPECT_EQ(system.name_lookups[0].name, L"VM");
    EXPECT_EQ(system.name_lookups[2].name, L"VM\\VM");
    EXPECT_EQ(GroupListUsers(), std::vector<std::wstring>{L"VM\\VM"});
}

TEST_F(AccountCheck, NoNameAtAllIsRefusedWithoutASystemCall) {
    EXPECT_FALSE(Check(L"", L""));
    EXPECT_EQ(system.SystemCalls(), 0);
}

TEST_F(AccountCheck, AnUnknownAccountIsRefused) {
    EXPECT_FALSE(Check(L"nobody", L""));
    EXPECT_FALSE(Check(L"root", L"ELSEWHERE"));
    EXPECT_TRUE(system.group_lists.empty());
}

TEST_F(AccountCheck, ADomainAloneMustNameADomainOrTheComputer) {
    EXPECT_FALSE(Check(L"", L"root"));
    EXPECT_EQ(system.name_lookups.back().name, L"root\\");
    EXPECT_TRUE(system.group_lists.empty());

    // The computer itself goes on to the membership test.
    EXPECT_TRUE(Check(L"", L"VM"));
    EXPECT_EQ(GroupListUsers(), std::vector<std::wstring>{L"VM\\VM"});
}

TEST_F(AccountCheck, AnAccountWhoseSidCantBeNamedIsRefused) {
    EXPECT_FALSE(Check(L"ghost", L"VM"));
    EXPECT_TRUE(system.group_lists.empty());
}

TEST_F(AccountCheck, AnAccountOutsideAdministratorsIsRefused) {
    AnswerGroups(NERR_Success, users_only);
    EXPECT_FALSE(Check(L"root", L"VM"));
    EXPECT_EQ(system.freed_buffers, std::vector<void*>{users_only.buffer()});
}

TEST_F(AccountCheck, AGroupListThatCantBeReadIsARefusal) {
    AnswerGroups(ERROR_ACCESS_DENIED, administrators_only);
    EXPECT_FALSE(Check(L"root", L"VM"));
    AnswerGroups(ERROR_MORE_DATA, administrators_only);
    EXPECT_FALSE(Check(L"root", L"VM"));
    AnswerGroups(NERR_Success, administrators_only, 1);
    EXPECT_FALSE(Check(L"root", L"VM"));
    EXPECT_EQ(system.group_lists.size(), 3u);
    EXPECT_EQ(system.freed_buffers.size(), 3u);
}

TEST_F(AccountCheck, AFailedLookupOfTheGroupIsARefusal) {
    system.lookup_account_sid = [](PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE) -> BOOL {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };
    EXPECT_FALSE(Check(L"root", L"VM"));
    EXPECT_TRUE(system.group_lists.empty());
}

TEST_F(AccountCheck, RunningOutOfMemoryForTheNamesIsARefusal) {
    launcher::Credentials credentials;
    // Longer than a framework string holds without a heap block.
    credentials.user_name = L"administrator";
    credentials.domain = L"a-long-domain-name";
    bool answer = true;
    {
        testing_support::ImportPatch refuse("KERNEL32.dll", "HeapAlloc",
                                            reinterpret_cast<const void*>(&RefuseHeapAlloc));
        answer = launcher::IsAdministratorAccount(credentials);
    }
    EXPECT_FALSE(answer);
    EXPECT_GT(g_refused_allocations, 0);
    EXPECT_EQ(system.SystemCalls(), 0);
}

}  // namespace
