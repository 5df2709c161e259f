// Where the credential UI library is looked for: the system directory, by full path.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "import_patch.h"
#include "launcher/credui_module.h"
#include "system_directory_override.h"

namespace {

// A scripted GetSystemDirectoryW: each call takes the next answer.
struct DirectoryAnswer {
    UINT result;
    std::wstring written;  // copied with a terminator when not empty
};

struct DirectoryCall {
    bool null_buffer;
    UINT size;
};

std::vector<DirectoryAnswer> g_answers;
std::vector<DirectoryCall> g_calls;

UINT WINAPI ScriptedSystemDirectory(LPWSTR buffer, UINT size) {
    g_calls.push_back({buffer == nullptr, size});
    if (g_calls.size() > g_answers.size()) return 0;
    const DirectoryAnswer& answer = g_answers[g_calls.size() - 1];
    if (buffer && !answer.written.empty() && answer.written.size() < size) {
        answer.written.copy(buffer, answer.written.size());
        buffer[answer.written.size()] = L'\0';
    }
    return answer.result;
}

class CredUiLibraryPath : public ::testing::Test {
  protected:
    CredUiLibraryPath()
        : patch_("KERNEL32.dll", "GetSystemDirectoryW",
                 reinterpret_cast<const void*>(&ScriptedSystemDirectory)) {
        g_answers.clear();
        g_calls.clear();
    }

    // Answers as Windows does for a directory of this text.
    static void ReportDirectory(const std::wstring& directory) {
        const UINT length = static_cast<UINT>(directory.size());
        g_answers = {{length + 1, L""}, {length, directory}};
    }

    static std::string FailureText() {
        try {
            launcher::GetCredUiLibraryPath();
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(typeid(e), typeid(std::runtime_error));
            return e.what();
        }
        ADD_FAILURE() << "no exception";
        return std::string();
    }

  private:
    testing_support::ImportPatch patch_;
};

TEST_F(CredUiLibraryPath, AppendsASeparatorAndTheLibraryName) {
    ReportDirectory(L"C:\\Windows\\system32");
    EXPECT_EQ(launcher::GetCredUiLibraryPath(), L"C:\\Windows\\system32\\credui.dll");
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_TRUE(g_calls[0].null_buffer);
    EXPECT_EQ(g_calls[0].size, 0u);
    EXPECT_FALSE(g_calls[1].null_buffer);
    EXPECT_EQ(g_calls[1].size, 20u);  // 19 characters and the terminator
}

TEST_F(CredUiLibraryPath, KeepsATrailingBackslash) {
    ReportDirectory(L"C:\\Windows\\system32\\");
    EXPECT_EQ(launcher::GetCredUiLibraryPath(), L"C:\\Windows\\system32\\credui.dll");
}

TEST_F(CredUiLibraryPath, KeepsATrailingForwardSlash) {
    ReportDirectory(L"C:\\Windows\\system32/");
    EXPECT_EQ(launcher::GetCredUiLibraryPath(), L"C:\\Windows\\system32/credui.dll");
}

TEST_F(CredUiLibraryPath, NonAsciiDirectory) {
    ReportDirectory(L"D:\\Syst\u00e8me\\\u7cfb\u7edf32");
    EXPECT_EQ(launcher::GetCredUiLibraryPath(), L"D:\\Syst\u00e8me\\\u7cfb\u7edf32\\credui.dll");
}

TEST_F(CredUiLibraryPath, SizeQueryFailure) {
    g_answers = {{0, L""}};
    EXPECT_EQ(FailureText(), "Failed to get length of system32 path");
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(CredUiLibraryPath, ReadFailure) {
    g_answers = {{20, L""}, {0, L""}};
    EXPECT_EQ(FailureText(), "Failed to get system32 path");
    EXPECT_EQ(g_calls.size(), 2u);
}

TEST_F(CredUiLibraryPath, DirectoryThatGrewBetweenTheCalls) {
    // The second call reports the size that a longer directory needs.
    g_answers = {{20, L""}, {25, L""}};
    EXPECT_EQ(FailureText(), "Failed to get system32 path");
}

TEST_F(CredUiLibraryPath, CountEqualToTheBufferSizeIsAFailure) {
    g_answers = {{20, L""}, {20, L""}};
    EXPECT_EQ(FailureText(), "Failed to get system32 path");
}

TEST(CredUiLibraryPathOfThisSystem, IsInTheSystemDirectory) {
    EXPECT_EQ(launcher::GetCredUiLibraryPath(),
              credui_testing::RealSystemDirectory() + L"\\credui.dll");
}

}  // namespace
