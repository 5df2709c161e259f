// One showing of the credential dialog against the scripted stand-in: the
// arguments it gets, the unpacking of its answer, and what is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "import_patch.h"
#include "launcher/auth_buffer_guard.h"
#include "launcher/credential_dialog.h"
#include "launcher/credui_module.h"  // CREDUI_INFOW, CREDUIWIN_GENERIC
#include "scoped_variable.h"
#include "stand_in_session.h"
#include "system_directory_override.h"
#include "tarn/exception.h"

namespace {

using credui_testing::Address;
using credui_testing::ScopedVariable;
using credui_testing::StandInEvent;
using credui_testing::StandInSession;

// What CoTaskMemFree received.
struct FreedBuffer {
    std::uint64_t address;
    bool is_the_answer;  // the buffer that the stand-in's last answer handed out
    std::uint64_t size;
    bool all_zero;
};

const StandInSession* g_session = nullptr;
std::vector<FreedBuffer> g_freed;
std::vector<std::string> g_sequence;
std::vector<HMODULE> g_loaded;
std::vector<HMODULE> g_unloaded;
using CoTaskMemFreeFunction = void(WINAPI*)(LPVOID);
CoTaskMemFreeFunction g_co_task_mem_free = nullptr;
decltype(&::LoadLibraryExW) g_load_library = nullptr;
decltype(&::FreeLibrary) g_free_library = nullptr;

void WINAPI InspectingCoTaskMemFree(LPVOID buffer) {
    FreedBuffer freed{Address(buffer), false, 0, false};
    if (buffer && g_session) {
        std::vector<StandInEvent> answers = g_session->Events("answer");
        if (!answers.empty() && answers.back().Number("buffer") == Address(buffer)) {
            freed.is_the_answer = true;
            freed.size = answers.back().Number("size");
            const auto* bytes = static_cast<const unsigned char*>(buffer);
            freed.all_zero = std::all_of(bytes, bytes + freed.size,
                                         [](unsigned char byte) { return byte == 0; });
        }
    }
    g_freed.push_back(freed);
    g_sequence.push_back("free buffer");
    g_co_task_mem_free(buffer);
}

HMODULE WINAPI RecordingLoadLibraryExW(LPCWSTR path, HANDLE file, DWORD flags) {
    HMODULE module = g_load_library(path, file, flags);
    DWORD error = GetLastError();
    g_loaded.push_back(module);
    g_sequence.push_back("load library");
    SetLastError(error);
    return module;
}

BOOL WINAPI RecordingFreeLibrary(HMODULE module) {
    g_unloaded.push_back(module);
    g_sequence.push_back("free library");
    return g_free_library(module);
}

class PromptForCredentialsTest : public ::testing::Test {
  protected:
    PromptForCredentialsTest()
        : free_buffer_patch_("ole32.dll", "CoTaskMemFree",
                             reinterpret_cast<const void*>(&InspectingCoTaskMemFree)),
          load_patch_("KERNEL32.dll", "LoadLibraryExW",
                      reinterpret_cast<const void*>(&RecordingLoadLibraryExW)),
          free_library_patch_("KERNEL32.dll", "FreeLibrary",
                              reinterpret_cast<const void*>(&RecordingFreeLibrary)) {
        g_co_task_mem_free = free_buffer_patch_.original_as<CoTaskMemFreeFunction>();
        g_load_library = load_patch_.original_as<decltype(&::LoadLibraryExW)>();
        g_free_library = free_library_patch_.original_as<decltype(&::FreeLibrary)>();
        g_session = &session_;
        g_freed.clear();
        g_sequence.clear();
        g_loaded.clear();
        g_unloaded.clear();
    }
    ~PromptForCredentialsTest() override { g_session = nullptr; }

    DWORD Prompt(DWORD previous_error, const std::wstring& caption = L"Caption",
                 const std::wstring& message = L"") {
        return launcher::PromptForCredentials(0, caption, message, previous_error, credentials_);
    }

    StandInEvent OnlyEvent(const std::string& name) const {
        std::vector<StandInEvent> events = session_.Events(name);
        EXPECT_EQ(events.size(), 1u) << "events: " << session_.EventNames();
        return events.empty() ? StandInEvent() : events[0];
    }

    // The answer buffer was the one thing given to CoTaskMemFree, all zeros,
    // after the library had been freed.
    void ExpectAnswerErasedAndReleased() const {
        StandInEvent answer = OnlyEvent("answer");
        ASSERT_NE(answer.Number("buffer"), 0u);
        ASSERT_EQ(g_freed.size(), 1u);
        EXPECT_TRUE(g_freed[0].is_the_answer);
        EXPECT_EQ(g_freed[0].address, answer.Number("buffer"));
        EXPECT_GT(g_freed[0].size, 0u);
        EXPECT_TRUE(g_freed[0].all_zero);
        EXPECT_EQ(g_sequence,
                  (std::vector<std::string>{"load library", "free library", "free buffer"}));
    }

    void ExpectLibraryLoadedAndFreedOnce() const {
        ASSERT_EQ(g_loaded.size(), 1u);
        EXPECT_NE(g_loaded[0], nullptr);
        EXPECT_EQ(g_unloaded, g_loaded);
    }

    void ExpectNoCredentials() const {
        EXPECT_TRUE(credentials_.user_name.empty());
        EXPECT_TRUE(credentials_.domain.empty());
        EXPECT_TRUE(credentials_.password.empty());
    }

    StandInSession session_;
    launcher::Credentials credentials_;

  private:
    testing_support::ImportPatch free_buffer_patch_;
    testing_support::ImportPatch load_patch_;
    testing_support::ImportPatch free_library_patch_;
};

TEST_F(PromptForCredentialsTest, DialogArguments) {
    session_.Script("cancel\n");
    const std::wstring caption = L"Anmelden \u2013 \u00c4rger \u6d4b\u8bd5";
    EXPECT_EQ(Prompt(0, caption, L"not shown"), static_cast<DWORD>(ERROR_CANCELLED));

    StandInEvent prompt = OnlyEvent("prompt");
    EXPECT_NE(prompt.Number("info"), 0u);
    EXPECT_EQ(prompt.Number("cb_size"), sizeof(CREDUI_INFOW));
#ifndef _WIN64
    EXPECT_EQ(prompt.Number("cb_size"), 20u);
#endif
    EXPECT_EQ(prompt.Number("hwnd_parent"), 0u);
    EXPECT_EQ(prompt.Number("message_null"), 0u);
    EXPECT_EQ(prompt.Text("message"), L"");
    EXPECT_EQ(prompt.Number("caption_null"), 0u);
    EXPECT_EQ(prompt.Text("caption"), caption);
    EXPECT_EQ(prompt.Number("banner"), 0u);
    EXPECT_EQ(prompt.Number("auth_error"), 0u);
    EXPECT_NE(prompt.Number("package_ptr"), 0u);
    EXPECT_EQ(prompt.Number("package_in"), 0u);
    EXPECT_EQ(prompt.Number("in_buffer"), 0u);
    EXPECT_EQ(prompt.Number("in_size"), 0u);
    EXPECT_NE(prompt.Number("out_buffer_ptr"), 0u);
    EXPECT_NE(prompt.Number("out_size_ptr"), 0u);
    EXPECT_NE(prompt.Number("save_ptr"), 0u);
    EXPECT_EQ(prompt.Number("save"), 0u);
    EXPECT_EQ(prompt.Number("flags"), static_cast<std::uint64_t>(CREDUIWIN_GENERIC));
    EXPECT_EQ(prompt.Number("flags"), 1u);

    ExpectNoCredentials();
    EXPECT_TRUE(session_.Events("unpack").empty());
    EXPECT_TRUE(g_freed.empty());
    ExpectLibraryLoadedAndFreedOnce();
}

TEST_F(PromptForCredentialsTest, CaptionSetButEmpty) {
    session_.Script("cancel\n");
    EXPECT_EQ(Prompt(0, L""), static_cast<DWORD>(ERROR_CANCELLED));
    StandInEvent prompt = OnlyEvent("prompt");
    EXPECT_EQ(prompt.Number("caption_null"), 0u);
    EXPECT_EQ(prompt.Text("caption"), L"");
}

struct MessageCase {
    DWORD previous_error;
    bool variable_set;
    bool message_shown;
};

class MessageText : public PromptForCredentialsTest,
                    public ::testing::WithParamInterface<MessageCase> {};

TEST_P(MessageText, FollowsThePreviousError) {
    const MessageCase& c = GetParam();
    const wchar_t* value = L"Leere Kennw\u00f6rter sind \u2013 hier \u7981\u6b62.";
    ScopedVariable variable(L"EmptyPasswordRestrictionMessage", c.variable_set ? value : nullptr);
    const std::wstring message = launcher::GetEmptyPasswordRestrictionMessage();
    session_.Script("cancel\n");

    EXPECT_EQ(Prompt(c.previous_error, L"Caption", message), static_cast<DWORD>(ERROR_CANCELLED));
    StandInEvent prompt = OnlyEvent("prompt");
    EXPECT_EQ(prompt.Number("message_null"), 0u);
    EXPECT_EQ(prompt.Text("message"), c.message_shown ? std::wstring(value) : std::wstring());
    EXPECT_EQ(prompt.Number("auth_error"), c.previous_error);
}

INSTANTIATE_TEST_SUITE_P(
    PreviousErrors, MessageText,
    ::testing::Values(MessageCase{0, true, false}, MessageCase{0, false, false},
                      MessageCase{1321, true, false}, MessageCase{1326, true, false},
                      MessageCase{1331, true, false}, MessageCase{1327, true, true},
                      MessageCase{1327, false, false}));

TEST_F(PromptForCredentialsTest, ConfirmedDialogFillsTheCredentials) {
    session_.Script(u8"credentials alice\tWORKGROUP\tp\u00e4ss w\u00f6rd \u20ac\n");
    EXPECT_EQ(Prompt(0), 0u);
    EXPECT_EQ(credentials_.user_name, L"alice");
    EXPECT_EQ(credentials_.domain, L"WORKGROUP");
    EXPECT_EQ(credentials_.password, L"p\u00e4ss w\u00f6rd \u20ac");

    StandInEvent answer = OnlyEvent("answer");
    std::vector<StandInEvent> unpacks = session_.Events("unpack");
    ASSERT_EQ(unpacks.size(), 2u);
    const StandInEvent& sizing = unpacks[0];
    EXPECT_EQ(sizing.Text("phase"), L"sizing");
    EXPECT_EQ(sizing.Number("flags"), 0u);
    EXPECT_EQ(sizing.Number("buffer"), answer.Number("buffer"));
    EXPECT_EQ(sizing.Number("size"), answer.Number("size"));
    for (const char* field : {"user", "domain", "password"}) {
        EXPECT_EQ(sizing.Number(std::string(field) + "_buffer"), 0u) << field;
        EXPECT_EQ(sizing.Number(std::string(field) + "_count"), 0u) << field;
    }
    const StandInEvent& fill = unpacks[1];
    EXPECT_EQ(fill.Text("phase"), L"fill");
    EXPECT_EQ(fill.Number("flags"), 0u);
    EXPECT_EQ(fill.Number("buffer"), answer.Number("buffer"));
    EXPECT_EQ(fill.Number("size"), answer.Number("size"));
    EXPECT_EQ(fill.Number("user_count"), 6u);
    EXPECT_EQ(fill.Number("domain_count"), 10u);
    EXPECT_EQ(fill.Number("password_count"), 12u);
    EXPECT_EQ(fill.Number("result"), 1u);

    ExpectAnswerErasedAndReleased();
    ExpectLibraryLoadedAndFreedOnce();
}

TEST_F(PromptForCredentialsTest, SizingCountsGiveTheLengthsWithoutTerminators) {
    session_.Script("credentials user1\t\tpassword\tcounts=6,1,9\n");
    EXPECT_EQ(Prompt(0), 0u);
    EXPECT_EQ(credentials_.user_name.size(), 5u);
    EXPECT_EQ(credentials_.domain.size(), 0u);
    EXPECT_EQ(credentials_.password.size(), 8u);
    EXPECT_EQ(credentials_.user_name, L"user1");
    EXPECT_EQ(credentials_.password, L"password");
    EXPECT_NE(credentials_.user_name.back(), L'\0');
    EXPECT_NE(credentials_.password.back(), L'\0');

    std::vector<StandInEvent> unpacks = session_.Events("unpack");
    ASSERT_EQ(unpacks.size(), 2u);
    EXPECT_EQ(unpacks[1].Number("user_count"), 6u);
    EXPECT_EQ(unpacks[1].Number("domain_count"), 1u);
    EXPECT_EQ(unpacks[1].Number("password_count"), 9u);
    ExpectAnswerErasedAndReleased();
}

TEST_F(PromptForCredentialsTest, CountOfZeroLeavesTheStringEmpty) {
    session_.Script("credentials user1\t\tpassword\tcounts=6,0,9\n");
    EXPECT_EQ(Prompt(0), 0u);
    EXPECT_EQ(credentials_.user_name, L"user1");
    EXPECT_EQ(credentials_.domain, L"");
    EXPECT_EQ(credentials_.password, L"password");
    std::vector<StandInEvent> unpacks = session_.Events("unpack");
    ASSERT_EQ(unpacks.size(), 2u);
    EXPECT_EQ(unpacks[1].Number("domain_count"), 0u);
}

TEST_F(PromptForCredentialsTest, EmptyFields) {
    session_.Script("credentials \t\t\n");
    EXPECT_EQ(Prompt(0), 0u);
    ExpectNoCredentials();
    ExpectAnswerErasedAndReleased();
}

TEST_F(PromptForCredentialsTest, NonAsciiFields) {
    session_.Script(
        u8"credentials J\u00fcrgen \u00d6zt\u00fcrk\tD\u00d6M\u00c4NE\t\U0001D11Epass\u00df\n");
    EXPECT_EQ(Prompt(0), 0u);
    EXPECT_EQ(credentials_.user_name, L"J\u00fcrgen \u00d6zt\u00fcrk");
    EXPECT_EQ(credentials_.domain, L"D\u00d6M\u00c4NE");
    EXPECT_EQ(credentials_.password, L"\U0001D11Epass\u00df");
}

TEST_F(PromptForCredentialsTest, CombinedNameIsNotSplit) {
    session_.Script("credentials CORP\\bob\t\tsecret\n");
    EXPECT_EQ(Prompt(0), 0u);
    EXPECT_EQ(credentials_.user_name, L"CORP\\bob");
    EXPECT_EQ(credentials_.domain, L"");
    EXPECT_EQ(credentials_.password, L"secret");
}

TEST_F(PromptForCredentialsTest, CancelWithABufferErasesAndReleasesIt) {
    session_.Script("cancel-with-buffer alice\tCORP\tsecret\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_CANCELLED));
    ExpectNoCredentials();
    EXPECT_TRUE(session_.Events("unpack").empty());
    ExpectAnswerErasedAndReleased();
    ExpectLibraryLoadedAndFreedOnce();
}

TEST_F(PromptForCredentialsTest, CancelIsRecognisedByTheReturnedValue) {
    session_.Script("fail 1223 5\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_CANCELLED));
}

TEST_F(PromptForCredentialsTest, FailedDialogGivesItsLastError) {
    session_.Script("fail 31 5\n");
    EXPECT_EQ(Prompt(0), 5u);
    ExpectNoCredentials();
    EXPECT_TRUE(session_.Events("unpack").empty());
    EXPECT_TRUE(g_freed.empty());
    ExpectLibraryLoadedAndFreedOnce();
}

TEST_F(PromptForCredentialsTest, FailedDialogWithoutLastErrorGivesTheReturnedValue) {
    session_.Script("fail 120 0\n");
    EXPECT_EQ(Prompt(0), 120u);
    ExpectNoCredentials();
}

TEST_F(PromptForCredentialsTest, FailedDialogWithABufferErasesAndReleasesIt) {
    session_.Script("fail-with-buffer 31 0\n");
    EXPECT_EQ(Prompt(0), 31u);
    ExpectNoCredentials();
    ExpectAnswerErasedAndReleased();
}

TEST_F(PromptForCredentialsTest, SizingCallWithAnotherErrorGivesThatError) {
    session_.Script("credentials alice\tCORP\tsecret\tsizing-error=5\n");
    EXPECT_EQ(Prompt(0), 5u);
    EXPECT_EQ(session_.Events("unpack").size(), 1u);
    ExpectNoCredentials();
    ExpectAnswerErasedAndReleased();
}

TEST_F(PromptForCredentialsTest, SizingCallWithoutLastErrorIsAnInternalError) {
    session_.Script("credentials alice\tCORP\tsecret\tsizing-error=0\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_INTERNAL_ERROR));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNAL_ERROR), 1359u);
    EXPECT_EQ(session_.Events("unpack").size(), 1u);
    ExpectNoCredentials();
}

TEST_F(PromptForCredentialsTest, FailedUnpackingGivesItsLastError) {
    session_.Script("credentials alice\tCORP\tsecret\tunpack-error=1783\n");
    EXPECT_EQ(Prompt(0), 1783u);
    EXPECT_EQ(session_.Events("unpack").size(), 2u);
    ExpectAnswerErasedAndReleased();
    ExpectLibraryLoadedAndFreedOnce();
}

TEST_F(PromptForCredentialsTest, FailedUnpackingWithoutLastErrorIsAnInternalError) {
    session_.Script("credentials alice\tCORP\tsecret\tunpack-error=0\n");
    EXPECT_EQ(Prompt(0), 1359u);
    ExpectAnswerErasedAndReleased();
}

TEST_F(PromptForCredentialsTest, TooSmallCountsFailTheSecondCall) {
    session_.Script("credentials alice\tCORP\tsecret\tcounts=2,5,7\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ExpectAnswerErasedAndReleased();
}

TEST_F(PromptForCredentialsTest, TwoPromptsLoadAndFreeTheLibraryTwice) {
    session_.Script("cancel\ncredentials bob\t\tpw\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_CANCELLED));
    launcher::Credentials second;
    EXPECT_EQ(launcher::PromptForCredentials(0, L"Caption", L"", 1326, second), 0u);
    EXPECT_EQ(second.user_name, L"bob");
    EXPECT_EQ(second.password, L"pw");

    ASSERT_EQ(g_loaded.size(), 2u);
    EXPECT_EQ(g_unloaded, g_loaded);
    EXPECT_EQ(session_.EventNames(),
              "attach prompt answer detach attach prompt answer unpack unpack detach");
    EXPECT_EQ(session_.RemainingScript(), "");
    std::vector<StandInEvent> prompts = session_.Events("prompt");
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[1].Number("auth_error"), 1326u);
    EXPECT_EQ(g_sequence, (std::vector<std::string>{"load library", "free library", "load library",
                                                    "free library", "free buffer"}));
}

TEST_F(PromptForCredentialsTest, LibraryFailurePassesThroughBeforeAnyDialog) {
    credui_testing::StandInVariantFolder folder(L"credui_nounpack.dll");
    credui_testing::SystemDirectoryOverride directory(folder.folder());
    session_.Script("credentials alice\tCORP\tsecret\n");
    try {
        Prompt(0);
        ADD_FAILURE() << "no exception";
    } catch (const tarn::CheckResultFailedException& e) {
        EXPECT_STREQ(e.GetSourceFile(), "credui_module");
        EXPECT_EQ(e.GetLine(), 22);
    }
    EXPECT_EQ(session_.EventNames(), "attach detach");
    EXPECT_TRUE(g_freed.empty());
    ExpectNoCredentials();
}

// The stand-in itself: how it takes answers from its script.
TEST_F(PromptForCredentialsTest, StandInSkipsCommentsAndAnswersCancelWhenExhausted) {
    session_.Script("# first\n\ncancel\r\n# second\ncredentials a\tb\tc\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(session_.RemainingScript(), "# second\ncredentials a\tb\tc\n");
    launcher::Credentials second;
    EXPECT_EQ(launcher::PromptForCredentials(0, L"Caption", L"", 0, second), 0u);
    EXPECT_EQ(second.user_name, L"a");
    launcher::Credentials third;
    EXPECT_EQ(launcher::PromptForCredentials(0, L"Caption", L"", 0, third),
              static_cast<DWORD>(ERROR_CANCELLED));
    std::vector<StandInEvent> answers = session_.Events("answer");
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0].Text("kind"), L"cancel");
    EXPECT_EQ(answers[1].Text("kind"), L"credentials");
    EXPECT_EQ(answers[2].Text("kind"), L"exhausted");
}

TEST_F(PromptForCredentialsTest, StandInReportsAnAnswerItDoesNotUnderstand) {
    session_.Script("credentials only-a-name\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_CANCELLED));
    StandInEvent error = OnlyEvent("script_error");
    EXPECT_EQ(error.Text("text"), L"credentials only-a-name");
}

// Once the guard has released the answer, the caller's pointer and size no
// longer describe it.
TEST(AuthBufferGuard, LeavesTheCallersPointerNullAndSizeZero) {
    void* answer = CoTaskMemAlloc(24);
    ASSERT_NE(answer, nullptr);
    ULONG answer_size = 24;
    { launcher::AuthBufferGuard guard(answer, answer_size); }
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(answer_size, 0u);
}

}  // namespace

TEST_F(PromptForCredentialsTest, StandInLoadsTheLogonDllOnceAndKeepsIt) {
    // Any DLL will do; this one has no InstallLogonStandIn export.
    const std::wstring logon_dll = credui_testing::RealSystemDirectory() + L"\\credui_noprompt.dll";
    ScopedVariable variable(L"STAND_IN_LOGON_DLL", logon_dll.c_str());
    session_.Script("cancel\ncancel\n");
    EXPECT_EQ(Prompt(0), static_cast<DWORD>(ERROR_CANCELLED));
    launcher::Credentials second;
    EXPECT_EQ(launcher::PromptForCredentials(0, L"Caption", L"", 0, second),
              static_cast<DWORD>(ERROR_CANCELLED));

    HMODULE logon = GetModuleHandleW(logon_dll.c_str());
    std::vector<StandInEvent> loads = session_.Events("logon_dll");
    ASSERT_EQ(loads.size(), 1u) << session_.EventNames();
    EXPECT_EQ(loads[0].Text("path"), logon_dll);
    EXPECT_EQ(loads[0].Number("handle"), Address(logon));
    EXPECT_EQ(loads[0].Number("error"), 0u);
    EXPECT_EQ(loads[0].Number("install"), 0u);
    ASSERT_NE(logon, nullptr);
    g_free_library(logon);  // the stand-in never frees it
    EXPECT_EQ(GetModuleHandleW(logon_dll.c_str()), nullptr);
}
