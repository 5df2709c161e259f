#include "launcher/child_command_line.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "import_patch.h"

namespace {

std::wstring Build(std::vector<std::wstring> tokens) {
    std::vector<const wchar_t*> pointers;
    for (const auto& token : tokens) pointers.push_back(token.c_str());
    return launcher::BuildChildCommandLine(pointers.data(), static_cast<int>(pointers.size()));
}

// What a child's CommandLineToArgvW makes of a command line.
std::vector<std::wstring> Split(const std::wstring& command_line) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(command_line.c_str(), &argc);
    std::vector<std::wstring> tokens;
    if (!argv) return tokens;
    for (int i = 0; i < argc; ++i) tokens.emplace_back(argv[i]);
    LocalFree(argv);
    return tokens;
}

TEST(ChildCommandLine, ProgramAloneIsUnchanged) {
    EXPECT_EQ(Build({L"C:\\Tools\\a.exe"}), L"C:\\Tools\\a.exe");
}

TEST(ChildCommandLine, ProgramPathWithSpaceIsQuoted) {
    EXPECT_EQ(Build({L"C:\\Program Files\\x\\a.exe"}), L"\"C:\\Program Files\\x\\a.exe\"");
}

TEST(ChildCommandLine, QuotedTokenWithSpaceKeepsItsQuotes) {
    EXPECT_EQ(Build({L"a.exe", L"\"say hi\""}), L"a.exe \"\\\"say hi\\\"\"");
}

TEST(ChildCommandLine, QuoteWithoutSpaceIsEscapedButNotEnclosed) {
    EXPECT_EQ(Build({L"a.exe", L"a\"b"}), L"a.exe a\\\"b");
}

TEST(ChildCommandLine, EmptyTokenSurvivesAsEmptyQuotes) {
    EXPECT_EQ(Build({L"a.exe", L"x", L"", L"y"}), L"a.exe x \"\" y");
}

TEST(ChildCommandLine, TrailingBackslashOfQuotedTokenIsDoubled) {
    EXPECT_EQ(Build({L"a.exe", L"C:\\my dir\\"}), L"a.exe \"C:\\my dir\\\\\"");
}

TEST(ChildCommandLine, BackslashesBeforeQuoteAreDoubled) {
    EXPECT_EQ(Build({L"a.exe", L"a\\\\\"b"}), L"a.exe a\\\\\\\\\\\"b");
}

TEST(ChildCommandLine, OtherBackslashesStaySingle) {
    EXPECT_EQ(Build({L"a.exe", L"C:\\x\\y"}), L"a.exe C:\\x\\y");
}

TEST(ChildCommandLine, WhitespaceOtherThanSpaceIsQuoted) {
    EXPECT_EQ(Build({L"a.exe", L"a\tb"}), L"a.exe \"a\tb\"");
    EXPECT_EQ(Build({L"a.exe", L"a\nb"}), L"a.exe \"a\nb\"");
    EXPECT_EQ(Build({L"a.exe", L"a\vb"}), L"a.exe \"a\vb\"");
}

TEST(EscapeQuotes, ReplacesEveryQuote) {
    EXPECT_EQ(launcher::EscapeQuotes(L"\"\""), L"\\\"\\\"");
    EXPECT_EQ(launcher::EscapeQuotes(L"plain"), L"plain");
}

// Both texts are measured first and built in one allocation of exactly
// their length (std::wstring reserves exactly what it is asked for beyond
// twice its inline capacity, so the texts here are longer than that).
TEST(ChildCommandLine, LineIsBuiltInOneAllocationOfItsExactLength) {
    const std::wstring line = Build({L"C:\\Program Files\\a.exe", L"say \"hi\"", L"", L"dir\\",
                                     L"with space\\\\", L"\\\\\"x", L"plain"});
    EXPECT_EQ(line, L"\"C:\\Program Files\\a.exe\" \"say \\\"hi\\\"\" \"\" dir\\ "
                    L"\"with space\\\\\\\\\" \\\\\\\\\\\"x plain");
    EXPECT_EQ(line.capacity(), line.size());
}

// The C runtime's malloc, counted while one lives (the launcher's operator
// new takes every block from it).
class CountedMalloc {
  public:
    CountedMalloc() {
        real_ = patch_.original_as<MallocFn>();
        calls_ = 0;
    }
    static int calls() { return calls_; }

  private:
    using MallocFn = void*(__cdecl*)(std::size_t);
    static void* __cdecl Counting(std::size_t size) {
        ++calls_;
        return real_(size);
    }
    static inline MallocFn real_ = nullptr;
    static inline int calls_ = 0;
    testing_support::ImportPatch patch_{"msvcrt.dll", "malloc",
                                        reinterpret_cast<const void*>(&Counting)};
};

// However many tokens: one block for their measurements, one for the line.
TEST(ChildCommandLine, TokensAreMeasuredIntoOneBlockAndTheLineBuiltInAnother) {
    const std::vector<std::wstring> tokens = {L"a.exe", L"one", L"two", L"three", L"four",
                                              L"five", L"six", L"seven", L"eight", L"nine"};
    std::vector<const wchar_t*> pointers;
    for (const auto& token : tokens) pointers.push_back(token.c_str());
    std::wstring line;
    {
        CountedMalloc counted;
        line = launcher::BuildChildCommandLine(pointers.data(), static_cast<int>(pointers.size()));
        EXPECT_EQ(CountedMalloc::calls(), 2);
    }
    EXPECT_EQ(line, L"a.exe one two three four five six seven eight nine");
}

TEST(EscapeQuotes, TextIsBuiltInOneAllocationOfItsExactLength) {
    const std::wstring escaped = launcher::EscapeQuotes(L"say \\\"hi\\\" and \"bye\"");
    EXPECT_EQ(escaped, L"say \\\\\\\"hi\\\\\\\" and \\\"bye\\\"");
    EXPECT_EQ(escaped.capacity(), escaped.size());
}

TEST(ChildCommandLine, TokensOfOnlyQuotesOrBackslashesRoundTrip) {
    std::vector<std::wstring> tokens = {L"a.exe", L"\"", L"\"\"\"", L"\\", L"\\\\\\", L"\\\"\\"};
    EXPECT_EQ(Split(Build(tokens)), tokens);
}

// Random token lists come back unchanged through the child's parser.
TEST(ChildCommandLine, RandomTokenListsRoundTripThroughCommandLineToArgvW) {
    std::mt19937 random(20261208);
    const std::wstring alphabet = L"ab \t\\\"\x00e9\x4e2d\\\"  x";
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::wstring> tokens = {L"C:\\Program Files\\probe dir\\probe.exe"};
        int count = static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) {
            std::wstring token;
            int length = static_cast<int>(random() % 8);
            for (int j = 0; j < length; ++j) token += alphabet[random() % alphabet.size()];
            tokens.push_back(token);
        }
        std::wstring command_line = Build(tokens);
        ASSERT_EQ(Split(command_line), tokens) << "command line: " << command_line.size();
    }
}

TEST(ChildCommandLine, LongRunOfBackslashesBeforeAQuote) {
    std::wstring long_token(32000, L'\\');
    long_token[31999] = L'"';
    std::wstring command_line = Build({L"a.exe", long_token});
    // 31,999 backslashes before the quote become 63,999, plus the quote.
    EXPECT_EQ(command_line.size(), 6u + 63999u + 1u);
}

}  // namespace
