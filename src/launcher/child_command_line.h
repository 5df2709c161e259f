// The command line of the program to start, rebuilt from the launcher's
// own tokens so that the child's parser gives back exactly those tokens.
#pragma once

#include <string>

namespace launcher {

// Escapes the double quotes of one token: a run of n backslashes before a
// double quote becomes 2n + 1 backslashes and the quote. Other backslashes
// stay single.
std::wstring EscapeQuotes(const std::wstring& token);

// Joins `count` tokens (the program and its arguments) with single spaces.
// A token that is empty or holds a space, tab, newline or vertical tab is
// enclosed in double quotes, with its trailing backslashes doubled.
std::wstring BuildChildCommandLine(const wchar_t* const* tokens, int count);

}  // namespace launcher
