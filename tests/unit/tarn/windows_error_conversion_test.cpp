#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>

#include "framework_text.h"
#include "tarn/result_code.h"

namespace {

using tarn_test::Units;

struct Conversion {
    std::uint32_t windows_error;
    std::uint32_t result_code;
    const char16_t* description;
};

std::ostream& operator<<(std::ostream& out, const Conversion& row) {
    return out << row.windows_error;
}

// The Windows errors that have a general or platform code of their own.
const Conversion kKnownErrors[] = {
    {0, 0x00000000u, u"No error"},
    {1, 0x80000042u, u"Not supported"},
    {2, 0x80010102u, u"File not found"},
    {3, 0x80010103u, u"Path not found"},
    {5, 0x80000045u, u"Access denied"},
    {6, 0x80010101u, u"Invalid handle"},
    {8, 0x80000041u, u"Out of memory"},
    {21, 0x80000063u, u"Not ready"},
    {24, 0x8000005Cu, u"Invalid size"},
    {31, 0x8000004Bu, u"Unspecified error"},
    {32, 0x80010104u, u"Sharing violation"},
    {33, 0x80010104u, u"Sharing violation"},
    {50, 0x80000042u, u"Not supported"},
    {53, 0x80010103u, u"Path not found"},
    {80, 0x80010105u, u"Already exists"},
    {87, 0x80000046u, u"Invalid argument"},
    {111, 0x80000044u, u"Buffer too small"},
    {112, 0x80000062u, u"Out of space"},
    {122, 0x80000044u, u"Buffer too small"},
    {123, 0x80010109u, u"Invalid path name"},
    {126, 0x80010112u, u"Module not found"},
    {127, 0x80010107u, u"Symbol not found"},
    {160, 0x80000046u, u"Invalid argument"},
    {183, 0x80010105u, u"Already exists"},
    {234, 0x80000044u, u"Buffer too small"},
    {267, 0x80010103u, u"Path not found"},
    {637, 0x80010113u, u"System image bad signature"},
    {1168, 0x8000004Cu, u"Not found"},
    {1347, 0x80010110u, u"Cannot open an anonymous level security token"},
    {1413, 0x8000005Eu, u"Invalid index"},
    {1450, 0x8000006Cu, u"Insufficient resources"},
    {1460, 0x80000221u, u"Operation timeout"},
    {14001, 0x80010108u, u"Sxs is incorrect"},
};

tarn::ResultCode Convert(std::uint32_t value) { return tarn::ResultCodeFromWindowsError(value); }

class KnownWindowsError : public testing::TestWithParam<Conversion> {};

TEST_P(KnownWindowsError, ConvertsToItsOwnCode) {
    EXPECT_EQ(Convert(GetParam().windows_error), tarn::MakeResultCode(GetParam().result_code));
}

TEST_P(KnownWindowsError, ConvertedCodeHasTheExpectedDescription) {
    EXPECT_EQ(Units(tarn::DescribeResultCode(Convert(GetParam().windows_error))),
              GetParam().description);
}

// The same error wrapped as a failure HRESULT converts the same way.
TEST_P(KnownWindowsError, WrappedAsHresultConvertsTheSame) {
    EXPECT_EQ(Convert(0x80070000u | GetParam().windows_error),
              tarn::MakeResultCode(GetParam().result_code));
}

INSTANTIATE_TEST_SUITE_P(ResultCodeFromWindowsError, KnownWindowsError,
                         testing::ValuesIn(kKnownErrors));

struct Case {
    std::uint32_t input;
    std::uint32_t expected;
};

std::ostream& operator<<(std::ostream& out, const Case& row) {
    return out << "0x" << std::hex << row.input;
}

class WindowsErrorCase : public testing::TestWithParam<Case> {};

TEST_P(WindowsErrorCase, Converts) {
    EXPECT_EQ(Convert(GetParam().input), tarn::MakeResultCode(GetParam().expected));
}

// Windows errors below 0x10000 without a code of their own keep their value
// in the Windows-error facility.
INSTANTIATE_TEST_SUITE_P(UnlistedError, WindowsErrorCase,
                         testing::Values(Case{4, 0x80070004u}, Case{1321, 0x80070529u},
                                         Case{1326, 0x8007052Eu}, Case{1332, 0x80070534u},
                                         Case{0xFFFF, 0x8007FFFFu}));

INSTANTIATE_TEST_SUITE_P(SuccessHresult, WindowsErrorCase,
                         testing::Values(Case{0x00010000u, 0}, Case{0x00012345u, 0},
                                         Case{0x00070005u, 0}, Case{0x7FFFFFFFu, 0}));

// Bits 28 to 30 do not matter; the error inside goes through the table again.
INSTANTIATE_TEST_SUITE_P(WrappedWindowsError, WindowsErrorCase,
                         testing::Values(Case{0x80070005u, 0x80000045u},
                                         Case{0x90070005u, 0x80000045u},
                                         Case{0xF0070005u, 0x80000045u},
                                         Case{0x8007007Fu, 0x80010107u}, Case{0x80070000u, 0},
                                         Case{0x80070534u, 0x80070534u},
                                         Case{0x8007FFFFu, 0x8007FFFFu}));

// Bit 27 belongs to the facility: 0x88070005 is not a wrapped Windows error.
INSTANTIATE_TEST_SUITE_P(
    OtherFailureHresult, WindowsErrorCase,
    testing::Values(Case{0x88070005u, 0x80010100u}, Case{0x80004005u, 0x80010100u},
                    Case{0x80000000u, 0x80010100u}, Case{0x80010107u, 0x80010100u},
                    Case{0x80170005u, 0x80010100u}, Case{0xFFFFFFFFu, 0x80010100u}));

// Over the whole Windows-error range: a listed error gives its code, any
// other its value in the Windows-error facility, unwrapped or wrapped.
TEST(ResultCodeFromWindowsError, EveryErrorBelow0x10000FollowsTheTable) {
    std::map<std::uint32_t, std::uint32_t> listed;
    for (const Conversion& row : kKnownErrors) listed[row.windows_error] = row.result_code;
    int mismatches = 0;
    for (std::uint32_t error = 0; error < 0x10000u; ++error) {
        auto row = listed.find(error);
        auto expected =
            tarn::MakeResultCode(row != listed.end() ? row->second : (error | 0x80070000u));
        if (Convert(error) != expected || Convert(error | 0x80070000u) != expected) {
            ADD_FAILURE() << "Windows error " << error;
            if (++mismatches == 10) break;
        }
    }
}

}  // namespace
