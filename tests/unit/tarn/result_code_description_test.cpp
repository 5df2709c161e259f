#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "framework_text.h"
#include "tarn/result_code.h"

namespace {

using tarn_test::Units;

struct Description {
    std::uint32_t code;
    const char16_t* text;
};

std::ostream& operator<<(std::ostream& out, const Description& row) {
    return out << "0x" << std::hex << row.code;
}

std::u16string Describe(std::uint32_t code) {
    return Units(tarn::DescribeResultCode(tarn::MakeResultCode(code)));
}

class GeneralDescription : public testing::TestWithParam<Description> {};

TEST_P(GeneralDescription, IsTheListedText) {
    EXPECT_EQ(Describe(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    ResultCode, GeneralDescription,
    testing::Values(
        Description{0x00000000u, u"No error"}, Description{0x00000001u, u"False"},
        Description{0x80000001u, u"Interface not supported"},
        Description{0x80000040u, u"Unexpected"}, Description{0x80000041u, u"Out of memory"},
        Description{0x80000042u, u"Not supported"}, Description{0x80000043u, u"Not implemented"},
        Description{0x80000044u, u"Buffer too small"}, Description{0x80000045u, u"Access denied"},
        Description{0x80000046u, u"Invalid argument"}, Description{0x8000004Au, u"Not matched"},
        Description{0x8000004Bu, u"Unspecified error"}, Description{0x8000004Cu, u"Not found"},
        Description{0x8000004Du, u"Found"}, Description{0x8000004Fu, u"Locked"},
        Description{0x80000050u, u"Not locked"}, Description{0x80000051u, u"Operation cancelled"},
        Description{0x80000057u, u"Method not found"}, Description{0x80000058u, u"Stack is empty"},
        Description{0x80000059u, u"Media error"}, Description{0x8000005Au, u"Invalid signature"},
        Description{0x8000005Bu, u"Invalid version"}, Description{0x8000005Cu, u"Invalid size"},
        Description{0x8000005Du, u"Invalid type"}, Description{0x8000005Eu, u"Invalid index"},
        Description{0x80000062u, u"Out of space"}, Description{0x80000063u, u"Not ready"},
        Description{0x80000064u, u"Less than"}, Description{0x80000065u, u"More than"},
        Description{0x80000066u, u"Prohibited"}, Description{0x80000067u, u"Already done"},
        Description{0x80000068u, u"Need reboot"}, Description{0x80000069u, u"Bases corrupted"},
        Description{0x8000006Au, u"Invalid state"}, Description{0x8000006Bu, u"Not initialized"},
        Description{0x8000006Cu, u"Insufficient resources"},
        Description{0x80000071u, u"Invalid result"}, Description{0x80000072u, u"Unknown exception"},
        Description{0x80000076u, u"Meta information not found"},
        Description{0x80000180u, u"Property not found"},
        Description{0x80000221u, u"Operation timeout"}));

class PlatformDescription : public testing::TestWithParam<Description> {};

TEST_P(PlatformDescription, IsTheListedText) {
    EXPECT_EQ(Describe(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    ResultCode, PlatformDescription,
    testing::Values(
        Description{0x80010100u, u"Unspecified platform error"},
        Description{0x80010101u, u"Invalid handle"}, Description{0x80010102u, u"File not found"},
        Description{0x80010103u, u"Path not found"}, Description{0x80010104u, u"Sharing violation"},
        Description{0x80010105u, u"Already exists"}, Description{0x80010106u, u"Wait abandoned"},
        Description{0x80010107u, u"Symbol not found"},
        Description{0x80010108u, u"Sxs is incorrect"},
        Description{0x80010109u, u"Invalid path name"},
        Description{0x80010110u, u"Cannot open an anonymous level security token"},
        Description{0x80010111u, u"Password is invalid"},
        Description{0x80010112u, u"Module not found"},
        Description{0x80010113u, u"System image bad signature"}));

class UnknownGeneralCode : public testing::TestWithParam<std::uint32_t> {};

TEST_P(UnknownGeneralCode, DescribesAsUnknownResultCode) {
    EXPECT_EQ(Describe(GetParam()), u"Unknown result code");
}

// Gaps between the listed general codes, success values without a text, the
// bit-31-clear twin of a listed failure, other facilities, and wrapped
// Windows errors, which have no description of their own.
INSTANTIATE_TEST_SUITE_P(ResultCode, UnknownGeneralCode,
                         testing::Values(0x00000002u, 0x00000040u, 0x7FFFFFFFu, 0x80000000u,
                                         0x80000002u, 0x8000003Fu, 0x80000047u, 0x80000049u,
                                         0x8000004Eu, 0x80000052u, 0x80000056u, 0x8000005Fu,
                                         0x80000061u, 0x8000006Du, 0x80000070u, 0x80000073u,
                                         0x80000075u, 0x80000077u, 0x8000017Fu, 0x80000181u,
                                         0x80000220u, 0x80000222u, 0x80020100u, 0x80070002u,
                                         0x80070005u, 0x80110100u, 0xFFFFFFFFu));

class UnknownPlatformCode : public testing::TestWithParam<std::uint32_t> {};

TEST_P(UnknownPlatformCode, DescribesAsUnknownPlatformResultCode) {
    EXPECT_EQ(Describe(GetParam()), u"Unknown platform result code");
}

// The table is chosen by bits 16 to 30 alone, so codes of the platform
// facility with bit 31 clear take the platform fallback too.
INSTANTIATE_TEST_SUITE_P(ResultCode, UnknownPlatformCode,
                         testing::Values(0x8001010Au, 0x8001010Bu, 0x8001010Cu, 0x8001010Du,
                                         0x8001010Eu, 0x8001010Fu, 0x80010000u, 0x800100FFu,
                                         0x80010114u, 0x8001FFFFu, 0x00010005u, 0x00010100u,
                                         0x00010107u));

TEST(DescribeResultCode, GivesATerminatedStringWithoutAllocatorObject) {
    tarn::string_t text = tarn::DescribeResultCode(tarn::kSymbolNotFound);
    EXPECT_EQ(text.allocator(), nullptr);
    ASSERT_EQ(text.size(), 16u);
    EXPECT_EQ(text.data()[text.size()], u'\0');
}

TEST(ResultCode, SignAloneTellsFailure) {
    EXPECT_FALSE(tarn::Failed(tarn::kNoError));
    EXPECT_FALSE(tarn::Failed(tarn::kFalse));
    EXPECT_FALSE(tarn::Failed(tarn::MakeResultCode(0x7FFFFFFFu)));
    EXPECT_TRUE(tarn::Failed(tarn::MakeResultCode(0x80000000u)));
    EXPECT_TRUE(tarn::Failed(tarn::kUnspecifiedPlatformError));
    EXPECT_TRUE(tarn::Succeeded(tarn::kFalse));
    EXPECT_FALSE(tarn::Succeeded(tarn::kOutOfMemory));
}

}  // namespace
