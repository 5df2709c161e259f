// Runs the owner-window helper program for the length of a test: a process
// with a visible unowned, an invisible and a visible owned top-level window.
#pragma once

#include <windows.h>

#include <string>

namespace credui_testing {

class OwnerWindowHelperProcess {
  public:
    OwnerWindowHelperProcess() = default;
    ~OwnerWindowHelperProcess();
    OwnerWindowHelperProcess(const OwnerWindowHelperProcess&) = delete;
    OwnerWindowHelperProcess& operator=(const OwnerWindowHelperProcess&) = delete;

    // Starts the helper and waits until its windows exist; false with `error` set otherwise.
    bool Start(std::string& error);

    DWORD process_id() const { return process_id_; }
    HWND visible() const { return visible_; }
    HWND invisible() const { return invisible_; }
    HWND owned() const { return owned_; }

  private:
    HANDLE process_ = nullptr;
    HANDLE ready_ = nullptr;
    HANDLE exit_ = nullptr;
    DWORD process_id_ = 0;
    HWND visible_ = nullptr;
    HWND invisible_ = nullptr;
    HWND owned_ = nullptr;
    std::wstring report_path_;
};

}  // namespace credui_testing
