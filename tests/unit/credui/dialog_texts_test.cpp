// The dialog's caption and empty-password message, read from the environment.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "import_patch.h"
#include "launcher/credential_dialog.h"
#include "scoped_variable.h"

namespace {

constexpr wchar_t kCaption[] = L"AuthDialogCaption";
constexpr wchar_t kMessage[] = L"EmptyPasswordRestrictionMessage";

using credui_testing::ScopedVariable;

// A scripted GetEnvironmentVariableW: the answers for one variable, in call order.
struct VariableAnswer {
    DWORD result;
    std::wstring written;  // copied with its terminator when the buffer holds it
};

struct VariableCall {
    std::wstring name;
    bool null_buffer;
    DWORD size;
};

std::vector<VariableAnswer> g_answers;
std::vector<VariableCall> g_calls;

DWORD WINAPI ScriptedGetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    g_calls.push_back({name, buffer == nullptr, size});
    if (g_calls.size() > g_answers.size()) return 0;
    const VariableAnswer& answer = g_answers[g_calls.size() - 1];
    if (buffer && answer.written.size() < size) {
        answer.written.copy(buffer, answer.written.size());
        buffer[answer.written.size()] = L'\0';
    }
    return answer.result;
}

class ScriptedEnvironment : public ::testing::Test {
  protected:
    ScriptedEnvironment()
        : patch_("KERNEL32.dll", "GetEnvironmentVariableW",
                 reinterpret_cast<const void*>(&ScriptedGetEnvironmentVariableW)) {
        g_answers.clear();
        g_calls.clear();
    }

    static std::string CaptionFailure() {
        try {
            launcher::GetAuthDialogCaption();
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(typeid(e), typeid(std::runtime_error));
            return e.what();
        }
        ADD_FAILURE() << "no exception";
        return std::string();
    }

    // Both calls asked for `name`, first for the size, then with a buffer of that size.
    static void ExpectSizeThenRead(const wchar_t* name, DWORD size) {
        ASSERT_EQ(g_calls.size(), 2u);
        EXPECT_EQ(g_calls[0].name, name);
        EXPECT_TRUE(g_calls[0].null_buffer);
        EXPECT_EQ(g_calls[0].size, 0u);
        EXPECT_EQ(g_calls[1].name, name);
        EXPECT_FALSE(g_calls[1].null_buffer);
        EXPECT_EQ(g_calls[1].size, size);
    }

  private:
    testing_support::ImportPatch patch_;
};

TEST(AuthDialogCaption, ReadsTheVariable) {
    ScopedVariable caption(kCaption, L"Als Administrator ausf\u00fchren \u2013 \u7ba1\u7406");
    std::wstring text = launcher::GetAuthDialogCaption();
    EXPECT_STREQ(text.c_str(), L"Als Administrator ausf\u00fchren \u2013 \u7ba1\u7406");
}

TEST(AuthDialogCaption, MissingVariableStopsTheLaunch) {
    ScopedVariable caption(kCaption, nullptr);
    try {
        launcher::GetAuthDialogCaption();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(typeid(e), typeid(std::runtime_error));
        EXPECT_STREQ(e.what(), "Failed to get length of the caption of the auth dialog");
    }
}

TEST_F(ScriptedEnvironment, CaptionOfAnUnsetVariable) {
    g_answers = {{0, L""}};
    EXPECT_EQ(CaptionFailure(), "Failed to get length of the caption of the auth dialog");
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(ScriptedEnvironment, CaptionSetButEmpty) {
    g_answers = {{1, L""}, {0, L""}};
    std::wstring text = launcher::GetAuthDialogCaption();
    EXPECT_STREQ(text.c_str(), L"");
    ExpectSizeThenRead(kCaption, 1);
}

TEST_F(ScriptedEnvironment, CaptionReadWithTheReportedSize) {
    g_answers = {{6, L""}, {5, L"Title"}};
    std::wstring text = launcher::GetAuthDialogCaption();
    EXPECT_STREQ(text.c_str(), L"Title");
    ExpectSizeThenRead(kCaption, 6);
}

TEST_F(ScriptedEnvironment, CaptionThatGrewBetweenTheReads) {
    g_answers = {{6, L""}, {12, L""}};
    EXPECT_EQ(CaptionFailure(), "Failed to get caption of the auth dialog");
    ExpectSizeThenRead(kCaption, 6);
}

TEST_F(ScriptedEnvironment, CaptionCountEqualToTheBufferSizeIsAFailure) {
    g_answers = {{6, L""}, {6, L""}};
    EXPECT_EQ(CaptionFailure(), "Failed to get caption of the auth dialog");
}

TEST(EmptyPasswordRestrictionMessage, ReadsTheVariable) {
    ScopedVariable message(kMessage, L"Leere Kennw\u00f6rter sind nicht erlaubt.");
    std::wstring text = launcher::GetEmptyPasswordRestrictionMessage();
    EXPECT_STREQ(text.c_str(), L"Leere Kennw\u00f6rter sind nicht erlaubt.");
}

TEST(EmptyPasswordRestrictionMessage, MissingVariableGivesAnEmptyText) {
    ScopedVariable message(kMessage, nullptr);
    EXPECT_STREQ(launcher::GetEmptyPasswordRestrictionMessage().c_str(), L"");
}

TEST_F(ScriptedEnvironment, MessageOfAnUnsetVariable) {
    g_answers = {{0, L""}};
    EXPECT_STREQ(launcher::GetEmptyPasswordRestrictionMessage().c_str(), L"");
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].name, kMessage);
}

TEST_F(ScriptedEnvironment, MessageThatGrewBetweenTheReadsIsEmpty) {
    g_answers = {{4, L""}, {9, L""}};
    EXPECT_STREQ(launcher::GetEmptyPasswordRestrictionMessage().c_str(), L"");
    ExpectSizeThenRead(kMessage, 4);
}

TEST_F(ScriptedEnvironment, MessageReadWithTheReportedSize) {
    g_answers = {{4, L""}, {3, L"abc"}};
    EXPECT_STREQ(launcher::GetEmptyPasswordRestrictionMessage().c_str(), L"abc");
    ExpectSizeThenRead(kMessage, 4);
}

}  // namespace
