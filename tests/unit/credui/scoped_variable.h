// Sets or removes a variable of the process environment and restores it at
// the end of the scope.
#pragma once

#include <windows.h>

#include <string>

namespace credui_testing {

class ScopedVariable {
  public:
    // A null `value` removes the variable.
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
        if (needed != 0) {
            had_value_ = true;
            saved_.resize(needed);
            saved_.resize(GetEnvironmentVariableW(name, &saved_[0], needed));
        }
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, had_value_ ? saved_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const wchar_t* name_;
    bool had_value_ = false;
    std::wstring saved_;
};

}  // namespace credui_testing
