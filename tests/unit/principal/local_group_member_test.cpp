#include <gtest/gtest.h>

#include <ostream>

#include "guarded_block.h"
#include "scripted_system.h"
#include "tarn/system/security/windows/principalid"

namespace {

using principal_test::Bytes;
using principal_test::GroupList;
using principal_test::ScriptedAccount;
using principal_test::ScriptedSystem;
using principal_test::SidFromText;
using principal_test::UseAccounts;
using tarn::windows::security::IsLocalGroupMember;
using tarn::windows::security::PrincipalId;

class LocalGroupMember : public ::testing::Test {
  protected:
    void SetUp() override {
        UseAccounts(
            system,
            {{L"BUILTIN\\Administrators", admins, L"Administrators", L"BUILTIN", SidTypeAlias},
             {L"BUILTIN", builtin, L"", L"BUILTIN", SidTypeDomain},
             {L"VM\\root", user, L"root", L"VM", SidTypeUser},
             {L"lonely", lonely_user, L"lonely", L"", SidTypeUser},
             {L"CORP\\Domain Admins", domain_admins, L"Domain Admins", L"CORP", SidTypeGroup},
             {L"CORP", corp, L"", L"CORP", SidTypeDomain},
             {L"Orphans", orphans, L"Orphans", L"", SidTypeAlias}});
    }

    // NetUserGetLocalGroups answers `status` with the list and counts given.
    void AnswerGroups(NET_API_STATUS status, LPBYTE list, DWORD read, DWORD total) {
        system.get_local_groups = [status, list, read, total](LPCWSTR, LPBYTE* out,
                                                              LPDWORD out_read, LPDWORD out_total) {
            *out = list;
            *out_read = read;
            *out_total = total;
            return status;
        };
    }

    void AnswerGroups(GroupList& list) {
        AnswerGroups(NERR_Success, list.buffer(), list.count(), list.count());
    }

    ScriptedSystem system;
    Bytes admins = SidFromText(L"S-1-5-32-544");
    Bytes builtin = SidFromText(L"S-1-5-32");
    Bytes world = SidFromText(L"S-1-1-0");
    Bytes user = SidFromText(L"S-1-5-21-11-22-33-1001");
    Bytes lonely_user = SidFromText(L"S-1-5-21-11-22-33-1002");
    Bytes domain_admins = SidFromText(L"S-1-5-21-44-55-66-512");
    Bytes corp = SidFromText(L"S-1-5-21-44-55-66");
    Bytes orphans = SidFromText(L"S-1-5-21-77-88-99-1234");
    PrincipalId user_id{user.data()};
    PrincipalId admins_id{admins.data()};
};

TEST_F(LocalGroupMember, AMemberIsFoundByTheGroupsNameInTheFullList) {
    GroupList list({L"Users", L"Administrators"});
    AnswerGroups(list);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kNoError);
    ASSERT_EQ(system.group_lists.size(), 1u);
    const auto& call = system.group_lists[0];
    EXPECT_TRUE(call.server_null);
    EXPECT_EQ(call.user, L"VM\\root");
    EXPECT_EQ(call.level, 0u);
    EXPECT_EQ(call.flags, static_cast<DWORD>(LG_INCLUDE_INDIRECT));
    EXPECT_TRUE(call.buffer_pointer_given);
    EXPECT_EQ(call.preferred_length, MAX_PREFERRED_LENGTH);
    EXPECT_TRUE(call.counts_given);
    EXPECT_EQ(system.freed_buffers, std::vector<void*>{list.buffer()});
    // The group's domain was recognised through a lookup of its name.
    ASSERT_EQ(system.name_lookups.size(), 2u);
    EXPECT_EQ(system.name_lookups[0].name, L"BUILTIN");
    for (const auto& lookup : system.sid_lookups) EXPECT_TRUE(lookup.system_name_null);
}

TEST_F(LocalGroupMember, AUserWithoutDomainIsListedByNameAlone) {
    GroupList list({L"Administrators"});
    AnswerGroups(list);
    PrincipalId lonely(lonely_user.data());
    EXPECT_EQ(IsLocalGroupMember(lonely, admins_id), tarn::kNoError);
    ASSERT_EQ(system.group_lists.size(), 1u);
    EXPECT_EQ(system.group_lists[0].user, L"lonely");
}

TEST_F(LocalGroupMember, ANameThatDiffersOnlyInCaseDoesNotMatch) {
    GroupList list({L"administrators", L"ADMINISTRATORS", L"Administrator", L"Administrators "});
    AnswerGroups(list);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kFalse);
    EXPECT_EQ(system.freed_buffers, std::vector<void*>{list.buffer()});
}

TEST_F(LocalGroupMember, EntriesWithoutNameAreSkipped) {
    GroupList list({nullptr, L"", L"Administrators"});
    AnswerGroups(list);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kNoError);
    GroupList without({nullptr, L""});
    AnswerGroups(without);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kFalse);
    EXPECT_EQ(system.freed_buffers, (std::vector<void*>{list.buffer(), without.buffer()}));
}

TEST_F(LocalGroupMember, AnEmptyNameIsReadNoFurtherThanItsTerminator) {
    // The terminator sits right before a page that faults when touched.
    auto* empty = static_cast<wchar_t*>(testing_support::AllocateGuarded(sizeof(wchar_t)));
    ASSERT_NE(empty, nullptr);
    *empty = L'\0';
    wchar_t admins_name[] = L"Administrators";
    LOCALGROUP_USERS_INFO_0 entries[] = {{empty}, {admins_name}};
    AnswerGroups(NERR_Success, reinterpret_cast<LPBYTE>(entries), 2, 2);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kNoError);
    testing_support::FreeGuarded(empty);
}

TEST_F(LocalGroupMember, AnEmptyListMeansNo) {
    AnswerGroups(NERR_Success, nullptr, 0, 0);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kFalse);
    EXPECT_TRUE(system.freed_buffers.empty());  // nothing was handed out
    EXPECT_EQ(system.group_lists.size(), 1u);
}

TEST_F(LocalGroupMember, AnIncompleteListIsBufferTooSmall) {
    GroupList list({L"Administrators"});
    AnswerGroups(NERR_Success, list.buffer(), 1, 2);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kBufferTooSmall);
    EXPECT_EQ(system.freed_buffers, std::vector<void*>{list.buffer()});
}

struct StatusCase {
    NET_API_STATUS status;
    std::uint32_t result;
};

void PrintTo(const StatusCase& c, std::ostream* out) {
    *out << "status " << c.status << " -> 0x" << std::hex << c.result << std::dec;
}

class GroupListStatus : public LocalGroupMember,
                        public ::testing::WithParamInterface<StatusCase> {};

TEST_P(GroupListStatus, IsReadByTheMembershipTestsOwnTable) {
    GroupList list({L"Administrators"});
    AnswerGroups(GetParam().status, list.buffer(), 1, 1);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::MakeResultCode(GetParam().result));
    EXPECT_EQ(system.freed_buffers, std::vector<void*>{list.buffer()});

    AnswerGroups(GetParam().status, nullptr, 0, 0);
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::MakeResultCode(GetParam().result));
    EXPECT_EQ(system.freed_buffers.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(AllRows, GroupListStatus,
                         ::testing::Values(StatusCase{ERROR_ACCESS_DENIED, 0x80000045u},
                                           StatusCase{ERROR_NOT_ENOUGH_MEMORY, 0x80000041u},
                                           StatusCase{ERROR_INVALID_PARAMETER, 0x80000046u},
                                           StatusCase{ERROR_MORE_DATA, 0x80000044u},
                                           // Others are unspecified, even those that the general
                                           // mapping knows.
                                           StatusCase{NERR_UserNotFound, 0x80010100u},
                                           StatusCase{ERROR_NONE_MAPPED, 0x80010100u},
                                           StatusCase{ERROR_INSUFFICIENT_BUFFER, 0x80010100u},
                                           StatusCase{ERROR_FILE_NOT_FOUND, 0x80010100u}));

TEST_F(LocalGroupMember, WorldHoldsEveryoneWithoutAskingTheSystem) {
    PrincipalId world_id(world.data());
    EXPECT_EQ(IsLocalGroupMember(user_id, world_id), tarn::kNoError);
    PrincipalId stranger(SidFromText(L"S-1-5-21-1-1-1-1").data());
    EXPECT_EQ(IsLocalGroupMember(stranger, world_id), tarn::kNoError);
    EXPECT_EQ(system.SystemCalls(), 0);
}

TEST_F(LocalGroupMember, AGroupOutsideBuiltinIsAnsweredNoWithoutTheGroupList) {
    PrincipalId group(domain_admins.data());
    EXPECT_EQ(IsLocalGroupMember(user_id, group), tarn::kFalse);
    EXPECT_TRUE(system.group_lists.empty());
    EXPECT_TRUE(system.freed_buffers.empty());
    ASSERT_EQ(system.name_lookups.size(), 2u);
    EXPECT_EQ(system.name_lookups[0].name, L"CORP");
}

TEST_F(LocalGroupMember, AGroupWithoutDomainIsAnsweredNo) {
    PrincipalId group(orphans.data());
    EXPECT_EQ(IsLocalGroupMember(user_id, group), tarn::kFalse);
    EXPECT_TRUE(system.name_lookups.empty());
    EXPECT_TRUE(system.group_lists.empty());
}

TEST_F(LocalGroupMember, EmptyOrInvalidSidsAreRefusedWithoutASystemCall) {
    PrincipalId empty;
    PrincipalId invalid(world.data());
    invalid.bytes().data()[0] = 2;
    EXPECT_EQ(IsLocalGroupMember(empty, admins_id), tarn::kInvalidArgument);
    EXPECT_EQ(IsLocalGroupMember(user_id, empty), tarn::kInvalidArgument);
    EXPECT_EQ(IsLocalGroupMember(empty, empty), tarn::kInvalidArgument);
    EXPECT_EQ(IsLocalGroupMember(invalid, admins_id), tarn::kInvalidArgument);
    EXPECT_EQ(IsLocalGroupMember(user_id, invalid), tarn::kInvalidArgument);
    EXPECT_EQ(system.SystemCalls(), 0);
}

TEST_F(LocalGroupMember, LookupFailuresAreReturned) {
    PrincipalId unknown_group(SidFromText(L"S-1-5-32-999").data());
    EXPECT_EQ(IsLocalGroupMember(user_id, unknown_group), tarn::MakeResultCode(0x80070534u));

    PrincipalId unknown_user(SidFromText(L"S-1-5-21-1-2-3-4").data());
    EXPECT_EQ(IsLocalGroupMember(unknown_user, admins_id), tarn::MakeResultCode(0x80070534u));

    system.lookup_account_name = [](LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD,
                                    PSID_NAME_USE) -> BOOL {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };
    EXPECT_EQ(IsLocalGroupMember(user_id, admins_id), tarn::kAccessDenied);
    EXPECT_TRUE(system.group_lists.empty());
}

}  // namespace
