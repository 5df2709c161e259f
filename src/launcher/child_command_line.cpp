#include "launcher/child_command_line.h"

#include <vector>

namespace launcher {

namespace {

struct TokenShape {
    std::size_t escaped_length = 0;  // units once its quotes are escaped
    std::size_t trailing_backslashes = 0;
    bool needs_quotes = false;
};

bool IsSeparator(wchar_t unit) {
    return unit == L' ' || unit == L'\t' || unit == L'\n' || unit == L'\v';
}

// One pass over the token: how long it becomes, and whether it is quoted.
TokenShape Measure(const wchar_t* token) {
    TokenShape shape;
    std::size_t length = 0;
    std::size_t backslashes = 0;
    for (const wchar_t* unit = token; *unit; ++unit) {
        ++length;
        if (*unit == L'\\') {
            ++backslashes;
            continue;
        }
        if (*unit == L'"') shape.escaped_length += backslashes + 1;
        if (IsSeparator(*unit)) shape.needs_quotes = true;
        backslashes = 0;
    }
    shape.escaped_length += length;
    shape.trailing_backslashes = backslashes;
    if (length == 0) shape.needs_quotes = true;
    return shape;
}

// Appends the token with each run of n backslashes before a double quote
// doubled and the quote escaped: 2n + 1 backslashes and the quote.
void AppendEscaped(std::wstring& out, const wchar_t* token) {
    std::size_t backslashes = 0;
    for (const wchar_t* unit = token; *unit; ++unit) {
        if (*unit == L'\\') {
            ++backslashes;
        } else {
            if (*unit == L'"') out.append(backslashes + 1, L'\\');
            backslashes = 0;
        }
        out += *unit;
    }
}

}  // namespace

std::wstring EscapeQuotes(const std::wstring& token) {
    std::wstring escaped;
    escaped.reserve(Measure(token.c_str()).escaped_length);
    AppendEscaped(escaped, token.c_str());
    return escaped;
}

std::wstring BuildChildCommandLine(const wchar_t* const* tokens, int count) {
    // First the exact length, so that the line is built in one allocation.
    std::vector<TokenShape> shapes;
    shapes.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    std::size_t length = 0;
    for (int i = 0; i < count; ++i) {
        shapes.push_back(Measure(tokens[i]));
        const TokenShape& shape = shapes.back();
        length += shape.escaped_length + (i > 0 ? 1 : 0);
        if (shape.needs_quotes) length += 2 + shape.trailing_backslashes;
    }
    std::wstring command_line;
    command_line.reserve(length);
    for (int i = 0; i < count; ++i) {
        if (i > 0) command_line += L' ';
        const TokenShape& shape = shapes[static_cast<std::size_t>(i)];
        if (shape.needs_quotes) command_line += L'"';
        AppendEscaped(command_line, tokens[i]);
        if (shape.needs_quotes) {
            // Backslashes before the closing quote must not escape it.
            command_line.append(shape.trailing_backslashes, L'\\');
            command_line += L'"';
        }
    }
    return command_line;
}

}  // namespace launcher
