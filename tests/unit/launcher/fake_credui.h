// Scripted stand-ins for the two credui.dll entries, handed to the code
// under test through patched LoadLibraryExW / GetProcAddress / FreeLibrary
// imports, so that no dialog and no DLL is involved.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "import_patch.h"

namespace launcher_tests {

struct DialogAnswer {
    enum Kind { kCredentials, kCancel, kFail } kind = kCredentials;
    std::wstring user_name;
    std::wstring domain;
    std::wstring password;
    DWORD fail_result = 0;
    DWORD fail_last_error = 0;
};

struct DialogCall {
    DWORD auth_error = 0;
    std::wstring message;
    std::wstring caption;
    HWND owner = nullptr;
};

struct FakeCredUiState {
    std::deque<DialogAnswer> answers;
    std::vector<DialogCall> calls;
    int loads = 0;
    int frees = 0;
};

// Installs the fake for the length of a scope.
class FakeCredUi {
  public:
    FakeCredUi();
    ~FakeCredUi();

    FakeCredUiState& state();
    void Answer(DialogAnswer answer) { state().answers.push_back(std::move(answer)); }
    void AnswerCredentials(const std::wstring& user, const std::wstring& domain,
                           const std::wstring& password);
    void AnswerCancel();

  private:
    std::unique_ptr<testing_support::ImportPatch> load_;
    std::unique_ptr<testing_support::ImportPatch> bind_;
    std::unique_ptr<testing_support::ImportPatch> free_;
};

}  // namespace launcher_tests
