// Scripted account database for the principal tests: while a ScriptedSystem
// lives, this executable's calls of the account, group and computer-name
// functions reach handlers that the test sets, and every call is recorded.
// A call for which no handler is set fails the test.
#pragma once

#include <windows.h>
// The network-management declarations need windows.h first.
#include <lm.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tarn/system/security/windows/principalid"

namespace principal_test {

using Bytes = std::vector<std::uint8_t>;

// The binary form of a SID written as text ("S-1-5-32-544"), made by the
// system's own parser so that it does not depend on the code under test.
Bytes SidFromText(const wchar_t* text);

// The bytes a PrincipalId holds.
inline Bytes BytesOf(const tarn::windows::security::PrincipalId& id) {
    return Bytes(id.data(), id.data() + id.size());
}

struct NameLookupCall {
    bool system_name_null;
    std::wstring name;
    DWORD sid_size;
    DWORD domain_count;
    // The domain buffer ends in a terminator at count - 1, so it holds at
    // least `domain_count` units as the string handed over.
    bool domain_buffer_fits;
};

struct SidLookupCall {
    bool system_name_null;
    Bytes sid;
    DWORD name_count;
    DWORD domain_count;
    bool name_buffer_fits;
    bool domain_buffer_fits;
};

struct GroupListCall {
    bool server_null;
    std::wstring user;
    DWORD level;
    DWORD flags;
    bool buffer_pointer_given;
    DWORD preferred_length;
    bool counts_given;
};

using LookupAccountNameHandler =
    std::function<BOOL(LPCWSTR name, PSID sid, LPDWORD sid_size, LPWSTR domain,
                       LPDWORD domain_count, PSID_NAME_USE kind)>;
using LookupAccountSidHandler =
    std::function<BOOL(PSID sid, LPWSTR name, LPDWORD name_count, LPWSTR domain,
                       LPDWORD domain_count, PSID_NAME_USE kind)>;
// Fills the list pointer and the two counts, returns the status.
using GroupListHandler =
    std::function<NET_API_STATUS(LPCWSTR user, LPBYTE* list, LPDWORD entries_read, LPDWORD total)>;
using ComputerNameHandler = std::function<BOOL(LPWSTR buffer, LPDWORD size)>;
using CreateWellKnownSidHandler =
    std::function<BOOL(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size)>;

class ScriptedSystem {
  public:
    ScriptedSystem();
    ~ScriptedSystem();
    ScriptedSystem(const ScriptedSystem&) = delete;
    ScriptedSystem& operator=(const ScriptedSystem&) = delete;

    LookupAccountNameHandler lookup_account_name;
    LookupAccountSidHandler lookup_account_sid;
    GroupListHandler get_local_groups;
    ComputerNameHandler get_computer_name;
    CreateWellKnownSidHandler create_well_known_sid;

    std::vector<NameLookupCall> name_lookups;
    std::vector<SidLookupCall> sid_lookups;
    std::vector<GroupListCall> group_lists;
    std::vector<void*> freed_buffers;  // NetApiBufferFree arguments, in order
    int computer_name_calls = 0;
    std::vector<WELL_KNOWN_SID_TYPE> well_known_sid_types;
    std::vector<Bytes> well_known_domain_sids;
    std::vector<DWORD> well_known_sizes;

    int SystemCalls() const;

    // The functions as they were before the patch.
    static decltype(&::LookupAccountNameW) RealLookupAccountName();
    static decltype(&::LookupAccountSidW) RealLookupAccountSid();

  private:
    struct Patches;
    std::unique_ptr<Patches> patches_;
};

// One principal of the scripted database.
struct ScriptedAccount {
    std::wstring lookup_name;  // the text that LookupAccountNameW resolves
    Bytes sid;
    std::wstring name;    // as LookupAccountSidW spells it
    std::wstring domain;  // the referenced domain of both lookups
    SID_NAME_USE kind;
};

// Answers both lookups from `accounts` the way the system does: a call with
// too small buffers reports the sizes it needs with ERROR_INSUFFICIENT_BUFFER,
// an unknown name or SID fails with ERROR_NONE_MAPPED.
void UseAccounts(ScriptedSystem& system, std::vector<ScriptedAccount> accounts);

// A NetUserGetLocalGroups answer that lives as long as the test needs it.
class GroupList {
  public:
    explicit GroupList(std::vector<const wchar_t*> names);
    LPBYTE buffer() { return reinterpret_cast<LPBYTE>(entries_.data()); }
    DWORD count() const { return static_cast<DWORD>(entries_.size()); }

  private:
    std::vector<std::wstring> names_;
    std::vector<LOCALGROUP_USERS_INFO_0> entries_;
};

}  // namespace principal_test
