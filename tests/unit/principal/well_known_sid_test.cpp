#include <gtest/gtest.h>

#include "scripted_system.h"
#include "tarn/system/security/windows/principalid"

namespace {

using principal_test::Bytes;
using principal_test::BytesOf;
using principal_test::ScriptedSystem;
using principal_test::SidFromText;
using tarn::windows::security::PrincipalId;
using tarn::windows::security::SidFromWellKnown;
using tarn::windows::security::WellKnownPrincipal;

TEST(SidFromWellKnown, BuiltinAdministratorsIsTheSixteenBytesOfS_1_5_32_544) {
    ScriptedSystem system;
    PrincipalId id;
    ASSERT_EQ(SidFromWellKnown(WellKnownPrincipal::BuiltinAdministrators, id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), (Bytes{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0}));
    EXPECT_EQ(system.SystemCalls(), 0);
}

struct ConstantCase {
    WellKnownPrincipal principal;
    const wchar_t* text;
};

class ConstantWellKnownSid : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(ConstantWellKnownSid, IsBuiltWithoutAskingTheSystem) {
    Bytes expected = SidFromText(GetParam().text);
    ScriptedSystem system;
    PrincipalId id;
    ASSERT_EQ(SidFromWellKnown(GetParam().principal, id), tarn::kNoError);
    EXPECT_EQ(BytesOf(id), expected);
    EXPECT_EQ(system.SystemCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    ValuesTwoToEight, ConstantWellKnownSid,
    ::testing::Values(ConstantCase{WellKnownPrincipal::World, L"S-1-1-0"},
                      ConstantCase{WellKnownPrincipal::BuiltinAdministrators, L"S-1-5-32-544"},
                      ConstantCase{WellKnownPrincipal::BuiltinUsers, L"S-1-5-32-545"},
                      ConstantCase{WellKnownPrincipal::BuiltinGuests, L"S-1-5-32-546"},
                      ConstantCase{WellKnownPrincipal::LocalSystem, L"S-1-5-18"},
                      ConstantCase{WellKnownPrincipal::LocalService, L"S-1-5-19"},
                      ConstantCase{WellKnownPrincipal::NetworkService, L"S-1-5-20"}));

TEST(SidFromWellKnown, ValuesAboveEightAreRefused) {
    ScriptedSystem system;
    Bytes world = SidFromText(L"S-1-1-0");
    PrincipalId id(world.data());
    EXPECT_EQ(SidFromWellKnown(static_cast<WellKnownPrincipal>(9), id), tarn::kInvalidArgument);
    EXPECT_EQ(SidFromWellKnown(static_cast<WellKnownPrincipal>(0xFFFFFFFFu), id),
              tarn::kInvalidArgument);
    EXPECT_EQ(BytesOf(id), world);
    EXPECT_EQ(system.SystemCalls(), 0);
}

TEST(WellKnownConstants, BuiltinDomainIsS_1_5_32) {
    using tarn::windows::security::kBuiltinDomainSid;
    EXPECT_EQ(Bytes(std::begin(kBuiltinDomainSid), std::end(kBuiltinDomainSid)),
              SidFromText(L"S-1-5-32"));
}

}  // namespace
