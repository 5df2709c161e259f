#include "tarn/system/security/windows/account_lookup.h"

namespace tarn {
namespace windows {
namespace security {

namespace {

// Bounds on the sizing rounds: a name whose sizes keep changing is given up.
constexpr int kAccountLookupCalls = 7;
constexpr int kDomainLookupCalls = 5;

constexpr char16_t kSeparator = u'\\';

LPCWSTR AsWide(const string_t& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }
LPWSTR AsWide(string_t& text) { return reinterpret_cast<LPWSTR>(text.data()); }

// Sizes `text` for the count (terminator included) that a lookup asked for,
// so that the count handed back never exceeds the buffer. A count of 0
// leaves the text as it is.
void FitToRequestedCount(string_t& text, DWORD count) {
    if (count != 0) text.resize(count - 1);
}

// Whether a text the system reports as `returned` units long fits a buffer
// of `given` units with its terminator. A success that reports more was only
// a sizing answer (Wine gives those when handed counts of 0) and the buffer
// holds nothing.
bool Fits(DWORD given, DWORD returned) { return returned == 0 || returned < given; }

// Drops what follows the first terminator the system wrote.
void TrimAtTerminator(string_t& text) {
    string_t::size_type length = 0;
    while (length < text.size() && text[length] != u'\0') ++length;
    text.resize(length);
}

string_t Join(const string_t& first, const string_t& second) {
    string_t joined(first);
    joined += kSeparator;
    joined += second;
    return joined;
}

bool IsDomainOrComputer(SID_NAME_USE kind) {
    return kind == SidTypeDomain || kind == SidTypeComputer;
}

ResultCode LookupName(const string_t& name, PrincipalId& sid, SID_NAME_USE* kind, int max_calls) {
    if (name.empty()) return kInvalidArgument;
    // Large enough for any SID; the referenced domain is sized by the system.
    alignas(DWORD) BYTE buffer[SECURITY_MAX_SID_SIZE] = {};
    DWORD sid_size = 0;
    string_t domain;
    DWORD domain_count = 0;
    SID_NAME_USE use = SidTypeUnknown;
    for (int call = 1;; ++call) {
        DWORD sid_size_given = sid_size;
        DWORD domain_count_given = domain_count;
        if (LookupAccountNameW(nullptr, AsWide(name), buffer, &sid_size, AsWide(domain),
                               &domain_count, &use)) {
            if (sid_size <= sid_size_given && Fits(domain_count_given, domain_count)) {
                if (kind) *kind = use;
                return AssignSid(sid, buffer);
            }
        } else {
            DWORD error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER) return FailureFromWindowsError(error);
        }
        if (call == max_calls) return kOperationCancelled;
        // No SID is longer than the buffer, so a larger need can't be met.
        if (sid_size > sizeof(buffer)) return kBufferTooSmall;
        FitToRequestedCount(domain, domain_count);
    }
}

}  // namespace

ResultCode SidFromAccountName(const string_t& name, PrincipalId& sid, SID_NAME_USE* kind) {
    return LookupName(name, sid, kind, kAccountLookupCalls);
}

ResultCode SidFromDomainName(const string_t& name, PrincipalId& sid) {
    return LookupName(name, sid, nullptr, kDomainLookupCalls);
}

ResultCode SidFromAccount(const AccountName& account, PrincipalId& sid) {
    const string_t& name = account.name;
    const string_t& domain = account.domain;
    PrincipalId found(sid.bytes().allocator());
    ResultCode code = kNoError;
    if (!name.empty() && !domain.empty()) {
        code = SidFromAccountName(Join(domain, name), found);
    } else if (!domain.empty()) {
        string_t domain_only(domain);
        domain_only += kSeparator;
        SID_NAME_USE kind = SidTypeUnknown;
        if (Failed(SidFromAccountName(domain_only, found, &kind)) || !IsDomainOrComputer(kind)) {
            return kNotFound;
        }
    } else if (!name.empty()) {
        SID_NAME_USE kind = SidTypeUnknown;
        code = SidFromAccountName(name, found, &kind);
        // A name alone that denotes a domain or the computer means the
        // account of that name on it.
        if (!Failed(code) && IsDomainOrComputer(kind)) {
            code = SidFromAccountName(Join(name, name), found);
        }
    } else {
        return kInvalidArgument;
    }
    if (Failed(code)) return code;
    sid.swap(found);
    return code;
}

ResultCode AccountFromSid(const PrincipalId& sid, AccountName& account) {
    if (sid.empty() || !IsValidSid(sid.sid())) return kInvalidArgument;
    account.name.clear();
    account.domain.clear();
    DWORD name_count = 0;
    DWORD domain_count = 0;
    SID_NAME_USE use = SidTypeUnknown;
    for (int call = 1;; ++call) {
        DWORD name_count_given = name_count;
        DWORD domain_count_given = domain_count;
        if (LookupAccountSidW(nullptr, sid.sid(), AsWide(account.name), &name_count,
                              AsWide(account.domain), &domain_count, &use)) {
            if (Fits(name_count_given, name_count) && Fits(domain_count_given, domain_count)) {
                TrimAtTerminator(account.name);
                TrimAtTerminator(account.domain);
                return kNoError;
            }
        } else {
            DWORD error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER) return FailureFromWindowsError(error);
        }
        if (call == kAccountLookupCalls) return kOperationCancelled;
        FitToRequestedCount(account.name, name_count);
        FitToRequestedCount(account.domain, domain_count);
    }
}

}  // namespace security
}  // namespace windows
}  // namespace tarn
