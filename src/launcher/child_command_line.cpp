#include "launcher/child_command_line.h"

#include <vector>

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
    // Each token escaped once, then the whole line in one allocation.
    std::vector<std::wstring> escaped(static_cast<size_t>(count > 0 ? count : 0));
    std::vector<bool> quoted(escaped.size());
    std::wstring::size_type length = 0;
    for (size_t i = 0; i < escaped.size(); ++i) {
        std::wstring token(tokens[i]);
        escaped[i] = EscapeQuotes(token);
        quoted[i] = NeedsQuotes(token);
        length += escaped[i].size() + 1;
        if (quoted[i]) length += 2 + TrailingBackslashes(escaped[i]);
    }
    std::wstring command_line;
    command_line.reserve(length);
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (i > 0) command_line += L' ';
        if (quoted[i]) {
            command_line += L'"';
            command_line += escaped[i];
            // Backslashes before the closing quote must not escape it.
            command_line.append(TrailingBackslashes(escaped[i]), L'\\');
            command_line += L'"';
        } else {
            command_line += escaped[i];
        }
    }
    return command_line;
}

}  // namespace launcher
