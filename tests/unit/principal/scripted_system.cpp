#include "scripted_system.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>
#include <stdexcept>
#include <utility>

#include "import_patch.h"

namespace principal_test {

namespace {

// The live script; the replacements below are free functions and find it here.
ScriptedSystem* g_system = nullptr;
decltype(&::LookupAccountNameW) g_real_lookup_name = nullptr;
decltype(&::LookupAccountSidW) g_real_lookup_sid = nullptr;

Bytes CopySidBytes(PSID sid) {
    if (!sid || !IsValidSid(sid)) return {};
    auto* begin = static_cast<const std::uint8_t*>(sid);
    return Bytes(begin, begin + GetLengthSid(sid));
}

bool TerminatedAt(LPCWSTR buffer, DWORD count) {
    return count == 0 || (buffer != nullptr && buffer[count - 1] == L'\0');
}

BOOL WINAPI ScriptedLookupAccountName(LPCWSTR system_name, LPCWSTR name, PSID sid, LPDWORD sid_size,
                                      LPWSTR domain, LPDWORD domain_count, PSID_NAME_USE kind) {
    g_system->name_lookups.push_back({system_name == nullptr, name ? name : L"",
                                      sid_size ? *sid_size : 0xFFFFFFFF,
                                      domain_count ? *domain_count : 0xFFFFFFFF,
                                      domain_count && TerminatedAt(domain, *domain_count)});
    if (!g_system->lookup_account_name) {
        ADD_FAILURE() << "unexpected LookupAccountNameW";
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return g_system->lookup_account_name(name, sid, sid_size, domain, domain_count, kind);
}

BOOL WINAPI ScriptedLookupAccountSid(LPCWSTR system_name, PSID sid, LPWSTR name, LPDWORD name_count,
                                     LPWSTR domain, LPDWORD domain_count, PSID_NAME_USE kind) {
    g_system->sid_lookups.push_back(
        {system_name == nullptr, CopySidBytes(sid), name_count ? *name_count : 0xFFFFFFFF,
         domain_count ? *domain_count : 0xFFFFFFFF, name_count && TerminatedAt(name, *name_count),
         domain_count && TerminatedAt(domain, *domain_count)});
    if (!g_system->lookup_account_sid) {
        ADD_FAILURE() << "unexpected LookupAccountSidW";
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return g_system->lookup_account_sid(sid, name, name_count, domain, domain_count, kind);
}

NET_API_STATUS WINAPI ScriptedGetLocalGroups(LPCWSTR server, LPCWSTR user, DWORD level, DWORD flags,
                                             LPBYTE* list, DWORD preferred_length,
                                             LPDWORD entries_read, LPDWORD total) {
    g_system->group_lists.push_back({server == nullptr, user ? user : L"", level, flags,
                                     list != nullptr, preferred_length,
                                     entries_read != nullptr && total != nullptr});
    if (!g_system->get_local_groups) {
        ADD_FAILURE() << "unexpected NetUserGetLocalGroups";
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    return g_system->get_local_groups(user, list, entries_read, total);
}

NET_API_STATUS WINAPI ScriptedBufferFree(LPVOID buffer) {
    g_system->freed_buffers.push_back(buffer);
    return NERR_Success;
}

BOOL WINAPI ScriptedGetComputerName(LPWSTR buffer, LPDWORD size) {
    ++g_system->computer_name_calls;
    if (!g_system->get_computer_name) {
        ADD_FAILURE() << "unexpected GetComputerNameW";
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return g_system->get_computer_name(buffer, size);
}

BOOL WINAPI ScriptedCreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid,
                                       DWORD* size) {
    g_system->well_known_sid_types.push_back(type);
    g_system->well_known_domain_sids.push_back(CopySidBytes(domain));
    g_system->well_known_sizes.push_back(size ? *size : 0xFFFFFFFF);
    if (!g_system->create_well_known_sid) {
        ADD_FAILURE() << "unexpected CreateWellKnownSid";
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    return g_system->create_well_known_sid(type, domain, sid, size);
}

template <class Function>
const void* Address(Function function) {
    return reinterpret_cast<const void*>(function);
}

// Copies `text` and its terminator when `count` units are enough, else
// reports the units needed.
bool FitsWithTerminator(const std::wstring& text, DWORD count) { return count > text.size(); }

void WriteText(const std::wstring& text, LPWSTR buffer, LPDWORD count) {
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    *count = static_cast<DWORD>(text.size());
}

decltype(&::GetProcAddress) g_real_get_proc_address = nullptr;

FARPROC WINAPI ScriptedGetProcAddress(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0) {
        if (std::strcmp(name, "NetUserGetLocalGroups") == 0) {
            return reinterpret_cast<FARPROC>(const_cast<void*>(Address(&ScriptedGetLocalGroups)));
        }
        if (std::strcmp(name, "NetApiBufferFree") == 0) {
            return reinterpret_cast<FARPROC>(const_cast<void*>(Address(&ScriptedBufferFree)));
        }
    }
    return g_real_get_proc_address(module, name);
}

}  // namespace

Bytes SidFromText(const wchar_t* text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid)) throw std::runtime_error("ConvertStringSidToSidW");
    Bytes bytes = CopySidBytes(sid);
    LocalFree(sid);
    return bytes;
}

struct ScriptedSystem::Patches {
    testing_support::ImportPatch lookup_name{"ADVAPI32.dll", "LookupAccountNameW",
                                             Address(&ScriptedLookupAccountName)};
    testing_support::ImportPatch lookup_sid{"ADVAPI32.dll", "LookupAccountSidW",
                                            Address(&ScriptedLookupAccountSid)};
    testing_support::ImportPatch well_known{"ADVAPI32.dll", "CreateWellKnownSid",
                                            Address(&ScriptedCreateWellKnownSid)};
    // netapi32.dll is bound at run time, so its two entries are scripted
    // where they are looked up.
    testing_support::ImportPatch bind{"KERNEL32.dll", "GetProcAddress",
                                      Address(&ScriptedGetProcAddress)};
    testing_support::ImportPatch computer_name{"KERNEL32.dll", "GetComputerNameW",
                                               Address(&ScriptedGetComputerName)};
};

ScriptedSystem::ScriptedSystem() {
    if (g_system) throw std::logic_error("one ScriptedSystem at a time");
    patches_ = std::make_unique<Patches>();
    g_real_lookup_name = patches_->lookup_name.original_as<decltype(&::LookupAccountNameW)>();
    g_real_lookup_sid = patches_->lookup_sid.original_as<decltype(&::LookupAccountSidW)>();
    g_real_get_proc_address = patches_->bind.original_as<decltype(&::GetProcAddress)>();
    g_system = this;
}

ScriptedSystem::~ScriptedSystem() {
    patches_.reset();
    g_system = nullptr;
}

int ScriptedSystem::SystemCalls() const {
    return static_cast<int>(name_lookups.size() + sid_lookups.size() + group_lists.size() +
                            freed_buffers.size() + well_known_sid_types.size()) +
           computer_name_calls;
}

decltype(&::LookupAccountNameW) ScriptedSystem::RealLookupAccountName() {
    return g_real_lookup_name;
}

decltype(&::LookupAccountSidW) ScriptedSystem::RealLookupAccountSid() { return g_real_lookup_sid; }

void UseAccounts(ScriptedSystem& system, std::vector<ScriptedAccount> accounts) {
    auto table = std::make_shared<std::vector<ScriptedAccount>>(std::move(accounts));
    system.lookup_account_name = [table](LPCWSTR name, PSID sid, LPDWORD sid_size, LPWSTR domain,
                                         LPDWORD domain_count, PSID_NAME_USE kind) -> BOOL {
        for (const ScriptedAccount& account : *table) {
            if (account.lookup_name != name) continue;
            auto sid_length = static_cast<DWORD>(account.sid.size());
            if (*sid_size < sid_length || !FitsWithTerminator(account.domain, *domain_count)) {
                *sid_size = sid_length;
                *domain_count = static_cast<DWORD>(account.domain.size() + 1);
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            std::copy(account.sid.begin(), account.sid.end(), static_cast<std::uint8_t*>(sid));
            *sid_size = sid_length;
            WriteText(account.domain, domain, domain_count);
            *kind = account.kind;
            return TRUE;
        }
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    };
    system.lookup_account_sid = [table](PSID sid, LPWSTR name, LPDWORD name_count, LPWSTR domain,
                                        LPDWORD domain_count, PSID_NAME_USE kind) -> BOOL {
        Bytes wanted = CopySidBytes(sid);
        for (const ScriptedAccount& account : *table) {
            if (account.sid != wanted) continue;
            if (!FitsWithTerminator(account.name, *name_count) ||
                !FitsWithTerminator(account.domain, *domain_count)) {
                *name_count = static_cast<DWORD>(account.name.size() + 1);
                *domain_count = static_cast<DWORD>(account.domain.size() + 1);
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            WriteText(account.name, name, name_count);
            WriteText(account.domain, domain, domain_count);
            *kind = account.kind;
            return TRUE;
        }
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    };
}

GroupList::GroupList(std::vector<const wchar_t*> names) {
    names_.reserve(names.size());
    for (const wchar_t* name : names) names_.push_back(name ? name : L"");
    for (std::size_t i = 0; i < names.size(); ++i) {
        LOCALGROUP_USERS_INFO_0 entry{};
        entry.lgrui0_name = names[i] ? &names_[i][0] : nullptr;
        entries_.push_back(entry);
    }
}

}  // namespace principal_test
