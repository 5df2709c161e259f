// A scripted CreateProcessWithLogonW for the length of a scope: records every
// call and either fails with a given error or starts a real, short-lived
// child whose exit code the test chooses.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "import_patch.h"

namespace launcher_tests {

struct LogonCall {
    std::wstring user_name;
    std::wstring domain;
    std::wstring password;
    bool domain_is_null = false;
    DWORD logon_flags = 0;
    std::wstring application_name;
    std::wstring command_line;
    const void* command_line_pointer = nullptr;
    DWORD creation_flags = 0;
    const void* environment = nullptr;
    const void* current_directory = nullptr;
    DWORD startup_cb = 0;
    bool desktop_is_null = true;
    std::wstring desktop;
    // The started child's handles, as handed back (null after a failure).
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
};

struct LogonResult {
    bool fail = false;
    DWORD error = 0;      // last error of a failure
    DWORD exit_code = 0;  // of the child otherwise
};

// Starts a real child that ends at once with `exit_code`.
BOOL StartChildThatExitsWith(DWORD exit_code, LPPROCESS_INFORMATION process_info);

class FakeLogon {
  public:
    FakeLogon();
    ~FakeLogon();

    void Fail(DWORD error) { results().push_back({true, error, 0}); }
    void Start(DWORD exit_code) { results().push_back({false, 0, exit_code}); }
    const std::vector<LogonCall>& calls() const;

  private:
    std::deque<LogonResult>& results();
    std::unique_ptr<testing_support::ImportPatch> patch_;
};

}  // namespace launcher_tests
