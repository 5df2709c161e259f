#include "launcher/child_command_line.h"

namespace launcher {

namespace {

bool NeedsQuotes(const std::wstring& token) {
    return token.empty() || token.find_first_of(L" \t\n\v") != std::wstring::npos;
}

std::wstring::size_type TrailingBackslashes(const std::wstring& text) {
    std::wstring::size_type count = 0;
    while (count < text.size() && text[text.size() - 1 - count] == L'\\') ++count;
    return count;
}

}  // namespace

std::wstring EscapeQuotes(const std::wstring& token) {
    std::wstring escaped;
    escaped.reserve(token.size() + token.size() / 8 + 2);
    std::wstring::size_type backslashes = 0;
    for (wchar_t unit : token) {
        if (unit == L'\\') {
            ++backslashes;
        } else {
            if (unit == L'"') escaped.append(backslashes + 1, L'\\');
            backslashes = 0;
        }
        escaped += unit;
    }
    return escaped;
}

std::wstring BuildChildCommandLine(const wchar_t* const* tokens, int count) {
    std::wstring command_line;
    for (int i = 0; i < count; ++i) {
        if (i > 0) command_line += L' ';
        std::wstring token(tokens[i]);
        std::wstring escaped = EscapeQuotes(token);
        if (NeedsQuotes(token)) {
            command_line += L'"';
            command_line += escaped;
            // Backslashes before the closing quote must not escape it.
            command_line.append(TrailingBackslashes(escaped), L'\\');
            command_line += L'"';
        } else {
            command_line += escaped;
        }
    }
    return command_line;
}

}  // namespace launcher
