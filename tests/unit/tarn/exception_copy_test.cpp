#include <gtest/gtest.h>

#include <memory>
#include <type_traits>
#include <typeinfo>

#include "framework_text.h"
#include "tarn/exception.h"

namespace {

using tarn_test::Units;

TEST(ExceptionClassTree, FollowsTheTwoBranches) {
    EXPECT_TRUE((std::is_base_of_v<std::exception, tarn::Exception>));
    EXPECT_TRUE(std::is_abstract_v<tarn::Exception>);
    EXPECT_TRUE((std::is_base_of_v<tarn::ExceptionBase<tarn::ResultCodeException, tarn::Exception>,
                                   tarn::ResultCodeException>));
    EXPECT_TRUE((std::is_base_of_v<
                 tarn::ExceptionBase<tarn::CheckResultFailedException, tarn::ResultCodeException>,
                 tarn::CheckResultFailedException>));
    EXPECT_TRUE((std::is_base_of_v<tarn::ExceptionBase<tarn::CheckFailedException, tarn::Exception>,
                                   tarn::CheckFailedException>));
    EXPECT_FALSE((std::is_base_of_v<tarn::ResultCodeException, tarn::CheckFailedException>));
    EXPECT_TRUE(std::has_virtual_destructor_v<tarn::Exception>);
}

// One exception of each thrown class, with a message and a nested exception.
std::unique_ptr<tarn::Exception> MakeResultCodeException() {
    auto exception = std::make_unique<tarn::ResultCodeException>("F", 7, tarn::kNotFound,
                                                                 tarn::string_t(u"open the file"));
    exception->SetNested(std::make_unique<tarn::CheckFailedException>("inner", 3));
    return exception;
}

std::unique_ptr<tarn::Exception> MakeCheckFailedException() {
    auto exception = std::make_unique<tarn::CheckFailedException>("credui_module", 20);
    *exception << "Failed to open credui.dll, error: " << 126u;
    exception->SetNested(
        std::make_unique<tarn::CheckResultFailedException>("inner", 3, tarn::kAccessDenied));
    return exception;
}

std::unique_ptr<tarn::Exception> MakeCheckResultFailedException() {
    auto exception =
        std::make_unique<tarn::CheckResultFailedException>("principalid", 522, tarn::kOutOfMemory);
    exception->SetNested(std::make_unique<tarn::ResultCodeException>("inner", 3, tarn::kFalse));
    return exception;
}

void ExpectSameContents(const tarn::Exception& copy, const tarn::Exception& original) {
    EXPECT_EQ(typeid(copy), typeid(original));
    EXPECT_EQ(copy.GetSourceFile(), original.GetSourceFile());  // the same literal, not a copy
    EXPECT_EQ(copy.GetLine(), original.GetLine());
    EXPECT_EQ(Units(copy.GetMessage()), Units(original.GetMessage()));
    EXPECT_NE(copy.GetMessage().data(), original.GetMessage().data());
    EXPECT_EQ(Units(copy.GetDisplayText()), Units(original.GetDisplayText()));
    auto* code_copy = dynamic_cast<const tarn::ResultCodeException*>(&copy);
    auto* code_original = dynamic_cast<const tarn::ResultCodeException*>(&original);
    ASSERT_EQ(code_copy == nullptr, code_original == nullptr);
    if (code_copy) {
        EXPECT_EQ(code_copy->GetResultCode(), code_original->GetResultCode());
    }
}

using Maker = std::unique_ptr<tarn::Exception> (*)();

class ExceptionCopy : public testing::TestWithParam<Maker> {};

TEST_P(ExceptionCopy, CloneKeepsTheMostDerivedClassAndContents) {
    std::unique_ptr<tarn::Exception> original = GetParam()();
    std::unique_ptr<tarn::Exception> clone = original->Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone.get(), original.get());
    ExpectSameContents(*clone, *original);
}

TEST_P(ExceptionCopy, CloneCopiesTheNestedExceptionDeeply) {
    std::unique_ptr<tarn::Exception> original = GetParam()();
    const tarn::Exception* original_nested = original->GetNested();
    ASSERT_NE(original_nested, nullptr);
    const std::u16string nested_text = Units(original_nested->GetDisplayText());
    const std::type_info& nested_type = typeid(*original_nested);

    std::unique_ptr<tarn::Exception> clone = original->Clone();
    const tarn::Exception* clone_nested = clone->GetNested();
    ASSERT_NE(clone_nested, nullptr);
    EXPECT_NE(clone_nested, original_nested);
    original.reset();  // the copy must not lean on the first chain
    EXPECT_EQ(typeid(*clone_nested), nested_type);
    EXPECT_EQ(Units(clone_nested->GetDisplayText()), nested_text);
    EXPECT_EQ(clone_nested->GetNested(), nullptr);
}

TEST_P(ExceptionCopy, RethrowThrowsTheMostDerivedClassThroughTheBase) {
    std::unique_ptr<tarn::Exception> original = GetParam()();
    const tarn::Exception& base = *original;
    try {
        base.Rethrow();
    } catch (const tarn::Exception& caught) {
        EXPECT_NE(&caught, original.get());
        ExpectSameContents(caught, *original);
        ASSERT_NE(caught.GetNested(), nullptr);
        EXPECT_NE(caught.GetNested(), original->GetNested());
    }
}

INSTANTIATE_TEST_SUITE_P(Exception, ExceptionCopy,
                         testing::Values(&MakeResultCodeException, &MakeCheckFailedException,
                                         &MakeCheckResultFailedException));

// The exact class is the first handler that matches.
TEST(ExceptionRethrow, CheckResultFailedExceptionIsCaughtAsItself) {
    tarn::CheckResultFailedException original("F", 21, tarn::kSymbolNotFound);
    const tarn::ResultCodeException& through = original;
    try {
        through.Rethrow();
    } catch (const tarn::CheckResultFailedException& caught) {
        EXPECT_EQ(caught.GetResultCode(), tarn::kSymbolNotFound);
        EXPECT_EQ(caught.GetLine(), 21);
    } catch (const tarn::Exception&) {
        ADD_FAILURE() << "caught as a base class";
    }
}

TEST(ExceptionRethrow, ResultCodeExceptionIsCaughtAsItself) {
    tarn::ResultCodeException original("F", 7, tarn::kNotFound, tarn::string_t(u"open"));
    const tarn::Exception& through = original;
    try {
        through.Rethrow();
    } catch (const tarn::CheckResultFailedException&) {
        ADD_FAILURE() << "caught as a derived class";
    } catch (const tarn::ResultCodeException& caught) {
        EXPECT_EQ(typeid(caught), typeid(tarn::ResultCodeException));
        EXPECT_EQ(Units(caught.GetDescription()), u"open: 0x8000004c (Not found)");
    }
}

TEST(ExceptionRethrow, CheckFailedExceptionIsCaughtAsItself) {
    tarn::CheckFailedException original("F", 20);
    original << "message";
    const tarn::Exception& through = original;
    try {
        through.Rethrow();
    } catch (const tarn::CheckFailedException& caught) {
        EXPECT_EQ(Units(caught.GetMessage()), u"message");
    } catch (const tarn::Exception&) {
        ADD_FAILURE() << "caught as a base class";
    }
}

TEST(ExceptionCopyConstruction, CopiesTheChainDeeply) {
    auto first = std::make_unique<tarn::CheckFailedException>("F", 20);
    *first << "outer";
    auto nested = std::make_unique<tarn::CheckResultFailedException>("G", 5, tarn::kNotFound);
    *nested << "inner message, long enough for a block";
    auto innermost = std::make_unique<tarn::CheckFailedException>("H", 1);
    nested->SetNested(std::move(innermost));
    first->SetNested(std::move(nested));

    tarn::CheckFailedException copy(*first);
    const tarn::Exception* first_nested = first->GetNested();
    ASSERT_NE(copy.GetNested(), nullptr);
    EXPECT_NE(copy.GetNested(), first_nested);
    ASSERT_NE(copy.GetNested()->GetNested(), nullptr);
    EXPECT_NE(copy.GetNested()->GetNested(), first_nested->GetNested());

    first.reset();
    EXPECT_EQ(Units(copy.GetDisplayText()), u"CheckFailedException - outer. At F(20) ");
    const tarn::Exception& copied_nested = *copy.GetNested();
    EXPECT_EQ(typeid(copied_nested), typeid(tarn::CheckResultFailedException));
    EXPECT_EQ(Units(copied_nested.GetDisplayText()),
              u"CheckResultFailedException - inner message, long enough for a block: 0x8000004c "
              u"(Not found). At G(5) ");
    EXPECT_EQ(Units(copy.GetNested()->GetNested()->GetDisplayText()),
              u"CheckFailedException - . At H(1) ");
}

}  // namespace
