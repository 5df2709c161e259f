// A netapi32.dll that can't be loaded or bound never reads as membership,
// whatever error code the failed call left behind: also codes that the
// general mapping takes for success HRESULTs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>

#include "import_patch.h"
#include "launcher/account_check.h"
#include "scripted_system.h"
#include "tarn/system/security/windows/principalid"

namespace {

using principal_test::Bytes;
using principal_test::GroupList;
using principal_test::ScriptedSystem;
using principal_test::SidFromText;
using principal_test::UseAccounts;
using tarn::windows::security::IsLocalGroupMember;
using tarn::windows::security::PrincipalId;

enum class Stage { kLoad, kBind };

struct FailureCase {
    Stage stage;
    DWORD error;
    std::uint32_t result;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << (c.stage == Stage::kLoad ? "load" : "bind") << " error 0x" << std::hex << c.error
         << " -> 0x" << c.result << std::dec;
}

FailureCase g_case;
int g_loads = 0;
decltype(&::GetProcAddress) g_scripted_lookup = nullptr;

HMODULE WINAPI FailingLoadLibraryExW(LPCWSTR, HANDLE, DWORD) {
    ++g_loads;
    SetLastError(g_case.error);
    return nullptr;
}

FARPROC WINAPI FailingGetProcAddress(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<std::uintptr_t>(name) > 0xFFFF &&
        std::strcmp(name, "NetUserGetLocalGroups") == 0) {
        SetLastError(g_case.error);
        return nullptr;
    }
    return g_scripted_lookup(module, name);
}

class NetApiFailure : public ::testing::TestWithParam<FailureCase> {
  protected:
    void SetUp() override {
        g_case = GetParam();
        g_loads = 0;
        UseAccounts(
            system_,
            {{L"BUILTIN\\Administrators", admins_, L"Administrators", L"BUILTIN", SidTypeAlias},
             {L"BUILTIN", SidFromText(L"S-1-5-32"), L"", L"BUILTIN", SidTypeDomain},
             {L"VM\\root", user_, L"root", L"VM", SidTypeUser}});
        // Were the list ever read, it would say "member".
        system_.get_local_groups = [this](LPCWSTR, LPBYTE* out, LPDWORD read, LPDWORD total) {
            *out = administrators_.buffer();
            *read = *total = administrators_.count();
            return static_cast<NET_API_STATUS>(NERR_Success);
        };
        if (g_case.stage == Stage::kLoad) {
            load_.emplace("KERNEL32.dll", "LoadLibraryExW",
                          reinterpret_cast<const void*>(&FailingLoadLibraryExW));
        } else {
            // Over the scripted system's own lookup, which binds the real names.
            bind_.emplace("KERNEL32.dll", "GetProcAddress",
                          reinterpret_cast<const void*>(&FailingGetProcAddress));
            g_scripted_lookup = bind_->original_as<decltype(&::GetProcAddress)>();
        }
    }

    void TearDown() override {
        bind_.reset();
        load_.reset();
    }

    ScriptedSystem system_;
    Bytes admins_ = SidFromText(L"S-1-5-32-544");
    Bytes user_ = SidFromText(L"S-1-5-21-11-22-33-1001");
    GroupList administrators_{{L"Administrators"}};

  private:
    std::optional<testing_support::ImportPatch> load_;
    std::optional<testing_support::ImportPatch> bind_;
};

TEST_P(NetApiFailure, IsTheDocumentedFailureAndARefusal) {
    PrincipalId user(user_.data());
    PrincipalId admins(admins_.data());
    EXPECT_EQ(IsLocalGroupMember(user, admins), tarn::MakeResultCode(GetParam().result));
    EXPECT_TRUE(system_.group_lists.empty());

    launcher::Credentials credentials;
    credentials.user_name = L"root";
    credentials.domain = L"VM";
    EXPECT_FALSE(launcher::IsAdministratorAccount(credentials));
    EXPECT_TRUE(system_.group_lists.empty());
    if (GetParam().stage == Stage::kLoad) {
        EXPECT_EQ(g_loads, 2);
    }
}

// 0x10000 and 0x7FFFFFFF convert to success in the general mapping; an error
// in HRESULT form keeps its meaning.
INSTANTIATE_TEST_SUITE_P(ErrorCodes, NetApiFailure,
                         ::testing::Values(FailureCase{Stage::kLoad, 0x00010000u, 0x80010100u},
                                           FailureCase{Stage::kLoad, 0x7FFFFFFFu, 0x80010100u},
                                           FailureCase{Stage::kLoad, 0x8007007Eu, 0x80010112u},
                                           FailureCase{Stage::kBind, 0x00010000u, 0x80010100u},
                                           FailureCase{Stage::kBind, 0x7FFFFFFFu, 0x80010100u},
                                           FailureCase{Stage::kBind, 0x8007007Fu, 0x80010107u}));

}  // namespace
