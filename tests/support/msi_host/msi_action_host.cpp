// Test host for the Windows Installer sample's custom action, all in one
// process: loads run_as_administrator.dll, opens a package built from the
// sample without a user interface (MsiOpenPackageW) and calls the action's
// entry itself. The DLL's imports are patched (import_patch.h): its
// CreateDirectoryW records each folder with the security descriptor it is
// given, written as SDDL, and creates it; its CreateProcessW records the
// launch and the files in the launcher's folder at that moment, and refuses
// the launch with 5 (ERROR_ACCESS_DENIED), so no launcher runs and the action
// fails (1603).
//
//   msi_action_host <custom-action DLL> <package> [refuse-first-folder]
//
// With refuse-first-folder, the first CreateDirectoryW fails with
// ERROR_ALREADY_EXISTS and creates nothing, as when that name is taken.
// Prints one JSON line per event, in order:
//   {"event":"create_directory","path":...,"security_descriptor":SDDL or null,
//    "result":bool,"error":N}
//   {"event":"create_process","application":...,"command_line":...,
//    "files":[the names in the launcher's folder]}
//   {"event":"action","result":N,"folder_left":bool}
// and returns 0, or 2 when it could not run the action.
// windows.h has to come first.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
// clang-format on

#include <cstdio>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>

#include "import_patch.h"
#include "json_record.h"
#include "security_descriptor_text.h"

namespace {

// Memory that LocalFree releases, a search, a loaded DLL and an installer handle.
using testing_support::DescriptorText;
using testing_support::LocalText;
using Search = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;
using Library = std::unique_ptr<HINSTANCE__, BOOL(WINAPI*)(HMODULE)>;
struct InstallerHandle {
    MSIHANDLE handle = 0;
    InstallerHandle() = default;
    InstallerHandle(const InstallerHandle&) = delete;
    InstallerHandle& operator=(const InstallerHandle&) = delete;
    ~InstallerHandle() {
        if (handle != 0) MsiCloseHandle(handle);
    }
};

using CreateDirectoryFunction = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
using ActionFunction = UINT(WINAPI*)(MSIHANDLE);

CreateDirectoryFunction g_create_directory = nullptr;
bool g_refuse_next_folder = false;
std::wstring g_folder;  // the last folder created

void Print(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

BOOL WINAPI RecordedCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    BOOL created = FALSE;
    DWORD error = ERROR_ALREADY_EXISTS;
    if (g_refuse_next_folder) {
        g_refuse_next_folder = false;
    } else {
        created = g_create_directory(path, attributes);
        error = created ? 0 : GetLastError();
        if (created) g_folder = path;
    }
    Print("{\"event\":\"create_directory\",\"path\":" + testing_support::JsonString(path) +
          ",\"security_descriptor\":" + DescriptorText(attributes) + ",\"result\":" +
          testing_support::JsonBool(created) + ",\"error\":" + std::to_string(error) + "}");
    SetLastError(error);
    return created;
}

// The names of the files in the folder that holds `path`, as a JSON list.
std::string FilesBeside(const std::wstring& path) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    std::string names;
    WIN32_FIND_DATAW found{};
    HANDLE first = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) return "[]";
    const Search search(first, FindClose);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        names += (names.empty() ? "" : ",") + testing_support::JsonString(found.cFileName);
    } while (FindNextFileW(search.get(), &found));
    return "[" + names + "]";
}

BOOL WINAPI RefusedCreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES,
                                  LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                                  LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    Print("{\"event\":\"create_process\",\"application\":" +
          testing_support::JsonString(application) +
          ",\"command_line\":" + testing_support::JsonString(command_line) +
          ",\"files\":" + (application ? FilesBeside(application) : std::string("[]")) + "}");
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool refuse_first = argc == 4 && std::wcscmp(argv[3], L"refuse-first-folder") == 0;
    if (argc != 3 && !refuse_first) {
        std::fwprintf(stderr,
                      L"usage: msi_action_host <custom-action DLL> <package> "
                      L"[refuse-first-folder]\n");
        return 2;
    }
    // Released last, after the import patches in it are undone.
    const Library action_dll(LoadLibraryW(argv[1]), FreeLibrary);
    const auto action = action_dll ? reinterpret_cast<ActionFunction>(reinterpret_cast<void (*)()>(
                                         GetProcAddress(action_dll.get(), "RunAsAdministrator")))
                                   : nullptr;
    if (!action) {
        std::fwprintf(stderr, L"msi_action_host: no RunAsAdministrator in %ls (%lu)\n", argv[1],
                      GetLastError());
        return 2;
    }
    try {
        testing_support::ImportPatch directories(
            "kernel32.dll", "CreateDirectoryW",
            reinterpret_cast<const void*>(&RecordedCreateDirectoryW), action_dll.get());
        testing_support::ImportPatch processes(
            "kernel32.dll", "CreateProcessW", reinterpret_cast<const void*>(&RefusedCreateProcessW),
            action_dll.get());
        g_create_directory = directories.original_as<CreateDirectoryFunction>();
        g_refuse_next_folder = refuse_first;

        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        UINT result = 0;
        {
            InstallerHandle package;
            const UINT opened = MsiOpenPackageW(argv[2], &package.handle);
            if (opened != ERROR_SUCCESS) {
                std::fwprintf(stderr, L"msi_action_host: MsiOpenPackageW failed with %u\n", opened);
                return 2;
            }
            result = action(package.handle);
        }
        const bool left =
            !g_folder.empty() && GetFileAttributesW(g_folder.c_str()) != INVALID_FILE_ATTRIBUTES;
        Print("{\"event\":\"action\",\"result\":" + std::to_string(result) +
              ",\"folder_left\":" + testing_support::JsonBool(left) + "}");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "msi_action_host: %s\n", error.what());
        return 2;
    }
    return 0;
}
