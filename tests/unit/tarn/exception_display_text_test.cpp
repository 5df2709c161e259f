#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <string>

#include "framework_text.h"
#include "tarn/exception.h"

namespace {

using tarn_test::Units;

std::u16string DisplayText(const tarn::Exception& exception) {
    return Units(exception.GetDisplayText());
}

std::u16string Description(const tarn::Exception& exception) {
    return Units(exception.GetDescription());
}

TEST(ExceptionWhat, IsTheClassNameWithoutTheMessage) {
    tarn::ResultCodeException result_code("F", 1, tarn::kNotFound, tarn::string_t(u"open"));
    tarn::CheckFailedException check("F", 2);
    check << "a message";
    tarn::CheckResultFailedException check_result("F", 3, tarn::kSymbolNotFound);
    EXPECT_STREQ(result_code.what(), "ResultCodeException");
    EXPECT_STREQ(check.what(), "CheckFailedException");
    EXPECT_STREQ(check_result.what(), "CheckResultFailedException");
    // Through the standard base too: what() is virtual.
    const std::exception& as_standard = check_result;
    EXPECT_STREQ(as_standard.what(), "CheckResultFailedException");
}

TEST(CheckResultFailedException, DisplayTextOfAListedCode) {
    tarn::CheckResultFailedException exception("F", 21, tarn::MakeResultCode(0x80010107u));
    EXPECT_EQ(exception.GetResultCode(), tarn::kSymbolNotFound);
    EXPECT_EQ(exception.GetMessage().size(), 0u);
    EXPECT_EQ(DisplayText(exception),
              u"CheckResultFailedException - 0x80010107 (Symbol not found). At F(21) ");
}

TEST(CheckResultFailedException, DisplayTextOfACodeWithoutDescription) {
    tarn::CheckResultFailedException exception("F", 21, tarn::MakeResultCode(0x80070002u));
    EXPECT_EQ(Description(exception), u"0x80070002 (Unknown result code)");
    EXPECT_EQ(DisplayText(exception),
              u"CheckResultFailedException - 0x80070002 (Unknown result code). At F(21) ");
}

TEST(CheckResultFailedException, DisplayTextThroughTheBaseClass) {
    tarn::CheckResultFailedException exception("principalid", 522, tarn::kInvalidArgument);
    const tarn::Exception& base = exception;
    EXPECT_EQ(DisplayText(base),
              u"CheckResultFailedException - 0x80000046 (Invalid argument). At principalid(522) ");
}

TEST(ResultCodeException, DescriptionJoinsMessageAndLowercaseCode) {
    tarn::ResultCodeException exception("F", 7, tarn::MakeResultCode(0x8000004Cu),
                                        tarn::string_t(u"open"));
    EXPECT_EQ(Description(exception), u"open: 0x8000004c (Not found)");
    EXPECT_EQ(DisplayText(exception),
              u"ResultCodeException - open: 0x8000004c (Not found). At F(7) ");
}

struct CodeDescription {
    std::uint32_t code;
    const char16_t* description;
};

class ResultCodeDescription : public testing::TestWithParam<CodeDescription> {};

TEST_P(ResultCodeDescription, IsEightHexDigitsAndTheCodeText) {
    tarn::ResultCodeException exception("F", 1, tarn::MakeResultCode(GetParam().code));
    EXPECT_EQ(Description(exception), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    ResultCodeException, ResultCodeDescription,
    testing::Values(CodeDescription{0x00000000u, u"0x00000000 (No error)"},
                    CodeDescription{0x00000001u, u"0x00000001 (False)"},
                    CodeDescription{0x8000004Au, u"0x8000004a (Not matched)"},
                    CodeDescription{0x00010005u, u"0x00010005 (Unknown platform result code)"},
                    CodeDescription{0xFFFFFFFFu, u"0xffffffff (Unknown result code)"}));

TEST(ResultCodeException, EmptyMessageHasNoSeparator) {
    tarn::ResultCodeException exception("F", 1, tarn::kNoError, tarn::string_t());
    EXPECT_EQ(Description(exception), u"0x00000000 (No error)");
}

TEST(ResultCodeException, MessageIsNotDescribedTwice) {
    tarn::ResultCodeException exception("F", 1, tarn::kFalse, tarn::string_t(u"ask"));
    exception << " again";
    EXPECT_EQ(Units(exception.GetMessage()), u"ask again");
    EXPECT_EQ(Description(exception), u"ask again: 0x00000001 (False)");
}

TEST(CheckFailedException, MessageBuiltFromTextAndNumber) {
    tarn::CheckFailedException exception("F", 20);
    exception << "Failed to open credui.dll, error: " << 126u;
    EXPECT_EQ(Units(exception.GetMessage()), u"Failed to open credui.dll, error: 126");
    EXPECT_EQ(Description(exception), u"Failed to open credui.dll, error: 126");
    EXPECT_STREQ(exception.what(), "CheckFailedException");
    EXPECT_EQ(DisplayText(exception),
              u"CheckFailedException - Failed to open credui.dll, error: 126. At F(20) ");
}

TEST(CheckFailedException, InsertionsChainOnATemporaryBeingThrown) {
    try {
        throw tarn::CheckFailedException("credui_module", 20)
            << "Failed to open credui.dll, error: " << 126u;
    } catch (const tarn::CheckFailedException& exception) {
        EXPECT_EQ(DisplayText(exception),
                  u"CheckFailedException - Failed to open credui.dll, error: 126. "
                  u"At credui_module(20) ");
    }
}

TEST(CheckFailedException, EmptyMessageKeepsTheSeparators) {
    tarn::CheckFailedException exception("F", 20);
    EXPECT_EQ(DisplayText(exception), u"CheckFailedException - . At F(20) ");
}

TEST(ExceptionMessage, NumbersAreDecimalWithoutPaddingOrSign) {
    tarn::CheckFailedException exception("F", 1);
    exception << 0u << "," << 7u << "," << 4294967295u;
    EXPECT_EQ(Units(exception.GetMessage()), u"0,7,4294967295");
}

TEST(ExceptionMessage, NarrowTextIsWidenedByteForByte) {
    tarn::CheckFailedException exception("F", 1);
    exception << "caf\xE9";
    EXPECT_EQ(Units(exception.GetMessage()), u"caf\u00E9");
}

TEST(ExceptionMessage, ConstructorCopiesTheMessage) {
    tarn::string_t message(u"a message long enough for a block");
    tarn::ResultCodeException exception("F", 1, tarn::kFalse, message);
    message.append(u" and more");
    EXPECT_EQ(Units(exception.GetMessage()), u"a message long enough for a block");
}

struct LineText {
    std::int32_t line;
    const char16_t* display_text;
};

class DisplayLine : public testing::TestWithParam<LineText> {};

TEST_P(DisplayLine, IsSignedDecimal) {
    tarn::CheckFailedException exception("F", GetParam().line);
    EXPECT_EQ(DisplayText(exception), GetParam().display_text);
}

INSTANTIATE_TEST_SUITE_P(Exception, DisplayLine,
                         testing::Values(LineText{-1, u"CheckFailedException - . At F(-1) "},
                                         LineText{0, u"CheckFailedException - . At F(0) "},
                                         LineText{std::numeric_limits<std::int32_t>::min(),
                                                  u"CheckFailedException - . At F(-2147483648) "},
                                         LineText{std::numeric_limits<std::int32_t>::max(),
                                                  u"CheckFailedException - . At F(2147483647) "}));

TEST(ExceptionDisplayText, SourcePathIsShownAsGiven) {
    tarn::CheckFailedException exception("src\\launcher\\credui_module.h", 20);
    EXPECT_EQ(exception.GetSourceFile(), std::string("src\\launcher\\credui_module.h"));
    EXPECT_EQ(DisplayText(exception),
              u"CheckFailedException - . At src\\launcher\\credui_module.h(20) ");
}

TEST(ExceptionDisplayText, LeavesOutTheNestedException) {
    tarn::CheckFailedException outer("F", 20);
    outer.SetNested(std::make_unique<tarn::CheckResultFailedException>("G", 5, tarn::kNotFound));
    EXPECT_EQ(DisplayText(outer), u"CheckFailedException - . At F(20) ");
}

}  // namespace
