#include "launcher/entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_credui.h"
#include "fake_logon.h"
#include "import_patch.h"
#include "launcher/failure_text.h"
#include "session_user.h"
#include "tarn/exception.h"

namespace launcher_tests {
namespace {

struct ShownBox {
    bool wide = false;
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT type = 0;
};
std::vector<ShownBox> g_boxes;

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    g_boxes.push_back({false, owner, Widen(text), Widen(caption), type});
    return IDOK;
}

int WINAPI RecordMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    g_boxes.push_back({true, owner, text, caption, type});
    return IDOK;
}

// The owner process id that the dialog's window search was given.
DWORD g_searched_process_id = 0;
int g_window_searches = 0;
BOOL WINAPI RecordEnumWindows(WNDENUMPROC, LPARAM search) {
    ++g_window_searches;
    g_searched_process_id = *reinterpret_cast<const DWORD*>(search);
    return TRUE;
}

class EntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_boxes.clear();
        g_searched_process_id = 0;
        g_window_searches = 0;
        SetEnvironmentVariableW(L"AuthDialogCaption", L"Caption");
    }
    void TearDown() override { SetEnvironmentVariableW(L"AuthDialogCaption", nullptr); }

    void ExpectOneBox(bool wide, const std::wstring& text) {
        ASSERT_EQ(g_boxes.size(), 1u);
        EXPECT_EQ(g_boxes[0].wide, wide);
        EXPECT_EQ(g_boxes[0].owner, nullptr);
        EXPECT_EQ(g_boxes[0].text, text);
        EXPECT_EQ(g_boxes[0].caption, L"Error");
        EXPECT_EQ(g_boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    }

    testing_support::ImportPatch box_a_{"USER32.dll", "MessageBoxA",
                                        reinterpret_cast<const void*>(&RecordMessageBoxA)};
    testing_support::ImportPatch box_w_{"USER32.dll", "MessageBoxW",
                                        reinterpret_cast<const void*>(&RecordMessageBoxW)};
    testing_support::ImportPatch enum_{"USER32.dll", "EnumWindows",
                                       reinterpret_cast<const void*>(&RecordEnumWindows)};
    FakeCredUi credui_;
    FakeLogon logon_;
};

TEST_F(EntryTest, UnrestrictedDllSearchAsksForNothing) {
    EXPECT_EQ(launcher::RunLauncher(L"execute 0 C:\\Tools\\a.exe", false), 1064);
    ExpectOneBox(false, L"Failed to restrict the DLL search path");
    EXPECT_TRUE(credui_.state().calls.empty());
}

TEST_F(EntryTest, TooFewTokensShowParseFailure) {
    EXPECT_EQ(launcher::RunLauncher(L"execute 12", true), 1064);
    ExpectOneBox(false, L"Unable to parse command line");
    EXPECT_TRUE(credui_.state().calls.empty());
}

TEST_F(EntryTest, VerbIsCaseSensitive) {
    EXPECT_EQ(launcher::RunLauncher(L"Execute 0 C:\\Tools\\a.exe", true), 87);
    ExpectOneBox(false, L"Invalid argument (command type)");
}

TEST_F(EntryTest, OwnPathAsFirstTokenIsAWrongVerb) {
    EXPECT_EQ(launcher::RunLauncher(L"C:\\dist\\launcher.exe execute 0 C:\\Tools\\a.exe", true),
              87);
    ExpectOneBox(false, L"Invalid argument (command type)");
}

TEST_F(EntryTest, CancelIsReturnedSilently) {
    credui_.AnswerCancel();
    EXPECT_EQ(launcher::RunLauncher(L"execute 0 C:\\Tools\\a.exe", true), 1223);
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(g_window_searches, 0);
}

TEST_F(EntryTest, OwnerProcessIdIsParsedLikeWcstoul) {
    struct Case {
        const wchar_t* token;
        DWORD expected;
    } cases[] = {{L"1234", 1234}, {L"12abc", 12}, {L"-1", 4294967295u}};
    for (const Case& c : cases) {
        credui_.AnswerCancel();
        g_window_searches = 0;
        std::wstring command_line = std::wstring(L"execute ") + c.token + L" a.exe";
        EXPECT_EQ(launcher::RunLauncher(command_line.c_str(), true), 1223);
        EXPECT_EQ(g_window_searches, 1) << c.token;
        EXPECT_EQ(g_searched_process_id, c.expected) << c.token;
    }
    // Letters alone, or an empty token, give 0: no owner, so no window search.
    for (const wchar_t* command_line : {L"execute abc a.exe", L"execute \"\" a.exe"}) {
        credui_.AnswerCancel();
        g_window_searches = 0;
        EXPECT_EQ(launcher::RunLauncher(command_line, true), 1223);
        EXPECT_EQ(g_window_searches, 0) << command_line;
    }
}

TEST_F(EntryTest, ChildExitCodesZero1223And1602PassWithoutBox) {
    for (DWORD code : {0ul, 1223ul, 1602ul}) {
        credui_.AnswerCredentials(SessionUser(), L"", L"pw");
        logon_.Start(code);
        EXPECT_EQ(launcher::RunLauncher(L"execute 0 C:\\Tools\\a.exe", true),
                  static_cast<int>(code));
    }
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(EntryTest, OtherChildExitCodeIsShownAndGives1064) {
    credui_.AnswerCredentials(SessionUser(), L"", L"pw");
    logon_.Start(1);
    EXPECT_EQ(launcher::RunLauncher(L"execute 0 C:\\Tools\\a.exe", true), 1064);
    ExpectOneBox(false, L"Error 1: failed to start downloader");
}

TEST_F(EntryTest, ChildCommandLineAndProgramReachTheLogon) {
    credui_.AnswerCredentials(SessionUser(), L"", L"pw");
    logon_.Start(0);
    EXPECT_EQ(launcher::RunLauncher(
                  L"execute 0 \"C:\\Program Files\\x\\a.exe\" \"say hi\" a\\\"b \"\" end", true),
              0);
    ASSERT_EQ(logon_.calls().size(), 1u);
    EXPECT_EQ(logon_.calls()[0].application_name, L"C:\\Program Files\\x\\a.exe");
    EXPECT_EQ(logon_.calls()[0].command_line,
              L"\"C:\\Program Files\\x\\a.exe\" \"say hi\" a\\\"b \"\" end");
}

TEST_F(EntryTest, MissingCaptionIsShown) {
    SetEnvironmentVariableW(L"AuthDialogCaption", nullptr);
    EXPECT_EQ(launcher::RunLauncher(L"execute 0 a.exe", true), 1064);
    ExpectOneBox(false, L"Failed to get length of the caption of the auth dialog");
}

TEST(FailureText, LaunchFailureTextIsUnsignedDecimal) {
    try {
        launcher::ThrowLaunchFailure(0xC0000005u);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Error 3221225477: failed to start downloader");
        EXPECT_EQ(dynamic_cast<const std::invalid_argument*>(&e), nullptr);
        EXPECT_EQ(dynamic_cast<const tarn::Exception*>(&e), nullptr);
        return;
    }
    ADD_FAILURE() << "nothing thrown";
}

TEST(FailureText, ExceptionChainIsJoinedWithSemicolons) {
    tarn::CheckResultFailedException outer("credui_module", 21, tarn::kSymbolNotFound);
    auto inner = std::make_unique<tarn::CheckFailedException>("principalid", 522);
    outer.SetNested(std::move(inner));
    std::wstring text = L"Failed to load credui.dll: ";
    launcher::AppendExceptionText(text, outer);
    EXPECT_EQ(text,
              L"Failed to load credui.dll: CheckResultFailedException - 0x80010107 (Symbol not "
              L"found). At credui_module(21) ;CheckFailedException - . At principalid(522) ");
}

}  // namespace
}  // namespace launcher_tests
