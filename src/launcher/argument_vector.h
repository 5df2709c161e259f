// A command line split into tokens the way the C runtime and most programs
// split theirs, owned for the length of a scope.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace launcher {

class ArgumentVector {
  public:
    explicit ArgumentVector(const wchar_t* command_line) noexcept
        : tokens_(CommandLineToArgvW(command_line, &count_)) {
        if (!tokens_) count_ = 0;
    }
    ~ArgumentVector() { LocalFree(tokens_); }
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    // False when the line could not be split (no tokens are then held).
    bool valid() const noexcept { return tokens_ != nullptr; }
    int count() const noexcept { return count_; }
    wchar_t* const* tokens() const noexcept { return tokens_; }
    const wchar_t* operator[](int index) const noexcept { return tokens_[index]; }

  private:
    int count_ = 0;
    LPWSTR* tokens_;
};

}  // namespace launcher
