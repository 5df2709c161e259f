// Runs the Windows Installer sample's custom action in this process, with the
// installer scripted: while a ScriptedInstaller lives, the action DLL's calls
// of the installer functions reach a scripted package (properties, Binary
// rows, a log), and its launch of the launcher reaches a stand-in that
// records what would have started and hands back an exit code. Files and
// folders are real: the action extracts into the folder the test names as
// the temporary folder.
#pragma once

// windows.h has to come first.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace msi_test {

// One CreateProcessW call of the action, and what was on disk at that moment.
struct Launch {
    std::wstring application;
    std::wstring command_line;
    std::wstring current_directory;
    bool inherit_handles;
    std::string application_bytes;  // the file the application names, as it was then
    std::wstring caption;           // the dialog texts in the environment then
    std::wstring empty_password_message;
    HANDLE process = nullptr;  // the handles the action was given for it
    HANDLE thread = nullptr;
};

using TempPathHandler = std::function<DWORD(DWORD count, LPWSTR buffer)>;
using CreateDirectoryHandler = std::function<BOOL(LPCWSTR path)>;
using WindowsDirectoryHandler = std::function<UINT(LPWSTR buffer, UINT count)>;
using WriteFileHandler =
    std::function<BOOL(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written)>;

class ScriptedInstaller {
  public:
    ScriptedInstaller();
    ~ScriptedInstaller();
    ScriptedInstaller(const ScriptedInstaller&) = delete;
    ScriptedInstaller& operator=(const ScriptedInstaller&) = delete;

    // Calls the action's entry with the installation handle.
    UINT Run();

    // The package.
    std::map<std::wstring, std::wstring> properties;
    std::map<std::wstring, std::string> binary_rows;
    // What the launcher's process ends with.
    DWORD exit_code = 0;
    // CreateProcessW fails with this error when it is not 0.
    DWORD launch_error = 0;
    // The process list of a snapshot, as (process, parent) pairs: the
    // system's own when empty. `snapshot_fails` makes taking one fail.
    std::vector<std::pair<DWORD, DWORD>> processes;
    bool snapshot_fails = false;
    // Stand-ins for the folders; the real functions when empty. The
    // temporary folder is a fresh real folder of the test's by default.
    TempPathHandler temp_path;
    CreateDirectoryHandler create_directory;
    WindowsDirectoryHandler windows_directory;
    WriteFileHandler write_file;

    // What the action did.
    std::vector<std::wstring> log;  // each INSTALLMESSAGE_INFO message, formatted
    std::vector<Launch> launches;
    std::vector<std::wstring> queries;
    std::vector<std::wstring> property_reads;
    std::vector<std::wstring> created_directories;  // every CreateDirectoryW path
    std::vector<const void*> descriptors_made;      // by the SDDL conversion
    std::vector<const void*> local_frees;           // every LocalFree of the action
    // For each read of a Binary row's stream, the error of an attempt to open
    // the file being written (the row's name in the last folder made),
    // sharing everything: 0 when the attempt succeeded.
    std::vector<DWORD> opens_while_written;
    std::set<MSIHANDLE> open_handles;       // made and not yet closed
    std::vector<MSIHANDLE> unknown_closes;  // closes of handles never made, or closed twice

    // The real temporary folder of this installer (with its trailing backslash).
    const std::wstring& temp_folder() const { return temp_folder_; }

    struct State;

  private:
    std::unique_ptr<State> state_;
    std::wstring temp_folder_;
};

// Whether `folder` (a path with or without a trailing backslash) holds nothing.
bool FolderIsEmpty(const std::wstring& folder);

}  // namespace msi_test
