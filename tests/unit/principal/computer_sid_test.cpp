// The computer's SID is cached for the whole process, so everything that
// touches it lives in this one test, in order: failures first, then the
// first success, then the answers that come from the cache. No other test
// in this executable may ask for the computer's SID or for values 0 and 1 of
// WellKnownPrincipal.
#include <gtest/gtest.h>

#include <algorithm>
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
using tarn::windows::security::GetComputerSid;
using tarn::windows::security::PrincipalId;
using tarn::windows::security::SidFromWellKnown;
using tarn::windows::security::WellKnownPrincipal;

TEST(ComputerSid, FailuresLeaveTheCacheUnresolvedThenTheFirstSuccessIsKept) {
    const Bytes world = SidFromText(L"S-1-1-0");
    const Bytes computer = SidFromText(L"S-1-5-21-11-22-33");
    const Bytes administrator = SidFromText(L"S-1-5-21-11-22-33-500");
    const Bytes guest = SidFromText(L"S-1-5-21-11-22-33-501");
    PrincipalId id(world.data());
    {
        ScriptedSystem system;
        std::vector<DWORD> sizes_given;
        system.get_computer_name = [&sizes_given](LPWSTR, LPDWORD size) -> BOOL {
            sizes_given.push_back(*size);
            *size = 20;
            SetLastError(ERROR_BUFFER_OVERFLOW);
            return FALSE;
        };
        EXPECT_EQ(GetComputerSid(id), tarn::kBufferTooSmall);
        EXPECT_EQ(BytesOf(id), world);
        EXPECT_EQ(sizes_given, std::vector<DWORD>{MAX_COMPUTERNAME_LENGTH + 1});
        EXPECT_TRUE(system.name_lookups.empty());

        // The accounts of the computer fail the same way, before CreateWellKnownSid.
        EXPECT_EQ(SidFromWellKnown(WellKnownPrincipal::AccountAdministrator, id),
                  tarn::kBufferTooSmall);
        EXPECT_TRUE(system.well_known_sid_types.empty());
        EXPECT_EQ(system.computer_name_calls, 2);

        system.get_computer_name = [&sizes_given](LPWSTR buffer, LPDWORD size) -> BOOL {
            sizes_given.push_back(*size);
            std::wstring(L"VM").copy(buffer, 2);
            buffer[2] = L'\0';
            *size = 2;
            return TRUE;
        };
        system.lookup_account_name = [](LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD,
                                        PSID_NAME_USE) -> BOOL {
            SetLastError(ERROR_NONE_MAPPED);
            return FALSE;
        };
        EXPECT_EQ(GetComputerSid(id), tarn::MakeResultCode(0x80070534u));
        EXPECT_EQ(BytesOf(id), world);
        ASSERT_EQ(system.name_lookups.size(), 1u);
        EXPECT_EQ(system.name_lookups[0].name, L"VM");
        EXPECT_TRUE(system.name_lookups[0].system_name_null);

        // A success whose count claims the whole buffer, leaving no room for a
        // terminator, is cut to the longest name a computer can have.
        const principal_test::ComputerNameHandler name_of_two = system.get_computer_name;
        system.get_computer_name = [&sizes_given](LPWSTR buffer, LPDWORD size) -> BOOL {
            sizes_given.push_back(*size);
            std::fill(buffer, buffer + *size, L'W');
            return TRUE;
        };
        EXPECT_EQ(GetComputerSid(id), tarn::MakeResultCode(0x80070534u));
        ASSERT_EQ(system.name_lookups.size(), 2u);
        EXPECT_EQ(system.name_lookups[1].name, std::wstring(MAX_COMPUTERNAME_LENGTH, L'W'));
        system.get_computer_name = name_of_two;

        // The computer's name is resolved as a domain name: five calls at most.
        system.lookup_account_name = [](LPCWSTR, PSID, LPDWORD sid_size, LPWSTR,
                                        LPDWORD domain_count, PSID_NAME_USE) -> BOOL {
            *sid_size = 24;
            *domain_count = 3;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        };
        EXPECT_EQ(GetComputerSid(id), tarn::kOperationCancelled);
        EXPECT_EQ(system.name_lookups.size(), 7u);
        EXPECT_EQ(BytesOf(id), world);

        // First success, with a name as long as a computer's name can be: the
        // system fills the whole count it was given, name and terminator. The
        // buffer is still in use when the name is looked up, so what the system
        // wrote must still be there then: a count larger than the buffer lets
        // the system's terminator land on another variable, which overwrites it.
        const std::wstring longest(MAX_COMPUTERNAME_LENGTH, L'W');
        const std::wstring written = longest + L'\0';
        const wchar_t* written_at = nullptr;
        system.get_computer_name = [&](LPWSTR buffer, LPDWORD size) -> BOOL {
            sizes_given.push_back(*size);
            if (*size < written.size()) {
                *size = static_cast<DWORD>(written.size());
                SetLastError(ERROR_BUFFER_OVERFLOW);
                return FALSE;
            }
            written.copy(buffer, written.size());
            written_at = buffer;
            *size = static_cast<DWORD>(longest.size());
            return TRUE;
        };
        UseAccounts(system, {{longest, computer, longest, longest, SidTypeComputer}});
        const principal_test::LookupAccountNameHandler resolve = system.lookup_account_name;
        std::vector<std::wstring> buffer_at_lookups;
        system.lookup_account_name = [&](LPCWSTR name, PSID sid, LPDWORD sid_size, LPWSTR domain,
                                         LPDWORD domain_count, PSID_NAME_USE kind) -> BOOL {
            buffer_at_lookups.emplace_back(written_at, written.size());
            return resolve(name, sid, sid_size, domain, domain_count, kind);
        };
        ASSERT_EQ(GetComputerSid(id), tarn::kNoError);
        EXPECT_EQ(BytesOf(id), computer);
        EXPECT_EQ(system.name_lookups.back().name, longest);
        ASSERT_FALSE(buffer_at_lookups.empty());
        for (const std::wstring& buffer : buffer_at_lookups) EXPECT_EQ(buffer, written);
        system.lookup_account_name = resolve;
        EXPECT_EQ(system.computer_name_calls, 6);
        for (DWORD size : sizes_given) EXPECT_EQ(size, MAX_COMPUTERNAME_LENGTH + 1u);

        // From now on the cache answers; nothing reaches the system.
        int calls_before = system.SystemCalls();
        PrincipalId again(world.data());
        ASSERT_EQ(GetComputerSid(again), tarn::kNoError);
        EXPECT_EQ(BytesOf(again), computer);
        EXPECT_NE(again.data(), id.data());
        EXPECT_EQ(system.SystemCalls(), calls_before);

        // The computer's accounts are built on the cached SID.
        system.create_well_known_sid = [&](WELL_KNOWN_SID_TYPE type, PSID, PSID sid,
                                           DWORD* size) -> BOOL {
            const Bytes& answer = type == WinAccountAdministratorSid ? administrator : guest;
            std::copy(answer.begin(), answer.end(), static_cast<std::uint8_t*>(sid));
            *size = static_cast<DWORD>(answer.size());
            return TRUE;
        };
        PrincipalId account;
        ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::AccountAdministrator, account),
                  tarn::kNoError);
        EXPECT_EQ(BytesOf(account), administrator);
        ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::AccountGuest, account), tarn::kNoError);
        EXPECT_EQ(BytesOf(account), guest);
        EXPECT_EQ(
            system.well_known_sid_types,
            (std::vector<WELL_KNOWN_SID_TYPE>{WinAccountAdministratorSid, WinAccountGuestSid}));
        EXPECT_EQ(system.well_known_domain_sids, (std::vector<Bytes>{computer, computer}));
        EXPECT_EQ(system.well_known_sizes,
                  (std::vector<DWORD>{SECURITY_MAX_SID_SIZE, SECURITY_MAX_SID_SIZE}));
        EXPECT_EQ(system.computer_name_calls, 6);

        system.create_well_known_sid = [](WELL_KNOWN_SID_TYPE, PSID, PSID, DWORD*) -> BOOL {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        };
        EXPECT_EQ(SidFromWellKnown(WellKnownPrincipal::AccountGuest, account),
                  tarn::kInvalidArgument);
        EXPECT_EQ(system.name_lookups.size(), 9u);
    }

    // The system's own CreateWellKnownSid on the cached SID.
    PrincipalId account;
    ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::AccountAdministrator, account), tarn::kNoError);
    EXPECT_EQ(BytesOf(account), administrator);
    ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::AccountGuest, account), tarn::kNoError);
    EXPECT_EQ(BytesOf(account), guest);
}

}  // namespace
