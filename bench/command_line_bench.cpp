// Prints the cost of rebuilding a child command line for growing inputs of
// ordinary text and of quotes and backslashes, to show that it grows linearly.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/child_command_line.h"

namespace {

// Median over `runs` samples of the time of one call of `work`, which
// returns a size so that the compiler keeps it; each sample times enough
// calls to last well above the timer's resolution.
template <class Work>
double MedianMicroseconds(size_t characters, int runs, Work work) {
    const int repetitions = static_cast<int>(std::max<size_t>(1, 2000000 / characters));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> samples;
    size_t sink = 0;
    for (int i = 0; i < runs; ++i) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (int r = 0; r < repetitions; ++r) sink += work();
        QueryPerformanceCounter(&end);
        samples.push_back(1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart) / repetitions);
    }
    std::sort(samples.begin(), samples.end());
    if (sink == 0) std::puts("");
    return samples[samples.size() / 2];
}

double RebuildMicroseconds(const std::vector<std::wstring>& tokens, size_t characters, int runs) {
    std::vector<const wchar_t*> pointers;
    for (const auto& token : tokens) pointers.push_back(token.c_str());
    return MedianMicroseconds(characters, runs, [&pointers] {
        return launcher::BuildChildCommandLine(pointers.data(), static_cast<int>(pointers.size()))
            .size();
    });
}

// The floor under any rebuild: one allocation and one copy of a text as long
// as the rebuilt line.
double CopyMicroseconds(const std::vector<std::wstring>& tokens, size_t characters, int runs) {
    std::vector<const wchar_t*> pointers;
    for (const auto& token : tokens) pointers.push_back(token.c_str());
    const std::wstring line =
        launcher::BuildChildCommandLine(pointers.data(), static_cast<int>(pointers.size()));
    return MedianMicroseconds(characters, runs, [&line] { return std::wstring(line).size(); });
}

// `characters` of input split into tokens of about 40 characters.
std::vector<std::wstring> Tokens(size_t characters, const std::wstring& pattern) {
    std::vector<std::wstring> tokens = {L"C:\\Program Files\\Vendor\\tool.exe"};
    std::wstring token;
    for (size_t i = 0; i < characters; ++i) {
        token += pattern[i % pattern.size()];
        if (token.size() == 40) {
            tokens.push_back(token);
            token.clear();
        }
    }
    if (!token.empty()) tokens.push_back(token);
    return tokens;
}

}  // namespace

int main() {
    const size_t sizes[] = {1000, 10000, 32000, 64000};
    struct Kind {
        const char* name;
        std::wstring pattern;
    } kinds[] = {{"ordinary text", L"install the package quietly "},
                 {"quotes and backslashes", L"\\\\\"a\\\" \\"}};
    std::printf("%-24s %10s %14s %14s %16s\n", "input", "characters", "median us", "ns/character",
                "copy alone, us");
    for (const Kind& kind : kinds) {
        for (size_t size : sizes) {
            std::vector<std::wstring> tokens = Tokens(size, kind.pattern);
            double us = RebuildMicroseconds(tokens, size, 21);
            double copy_us = CopyMicroseconds(tokens, size, 21);
            std::printf("%-24s %10zu %14.1f %14.2f %16.1f\n", kind.name, size, us,
                        1000.0 * us / static_cast<double>(size), copy_us);
        }
    }
    return 0;
}
