// A Windows Installer custom action that runs one program under an
// administrator's account through launcher.exe.
//
// Windows Installer starts an executable custom action with the executable's
// own path as the first token of its command line, and the launcher accepts
// only "execute" there: so the only way to start it from a package is a DLL
// action that calls CreateProcessW itself, with the launcher as the
// application name. Schedule RunAsAdministrator as an immediate action of the
// InstallExecuteSequence before anything changes the machine (see
// installer.wxs beside this file).
//
// Properties it reads:
//   LAUNCHER_BINARY         key of the Binary row that holds launcher.exe
//   PROGRAM_BINARY          key of the Binary row that holds the program; the
//                           program is extracted under this name
//   PROGRAM_ARGS            the program's arguments, quoted as on a Windows
//                           command line (default empty)
//   AUTH_DIALOG_CAPTION     the credential dialog's caption
//   EMPTY_PASSWORD_MESSAGE  its message after a logon refused for a blank password
//
// Files of the package are not on disk before InstallFinalize, so the action
// extracts the launcher and the program from the Binary table into a fresh
// folder of the temporary folder, and deletes them when the launcher ends.
//
// That folder gets an access list of its own: the other account's logon must
// be able to read the launcher and the program. The temporary folder's access
// list (passed on to everything in it) lets in only the invoking user, SYSTEM
// and Administrators; and under User Account Control the administrator's
// logon gets a filtered token, in which Administrators only denies, so that
// logon would most likely not be able to read files there
// (CreateProcessWithLogonW would fail with 5, access denied). The folder is
// created with a protected access list, passed on to the files extracted into
// it (kFolderAccess below):
//   SYSTEM, Administrators and the folder's owner: full control;
//   Authenticated Users (every account that has logged on): read and execute,
//   nothing more.
// The invoking user (the folder's owner) can still write there. The
// administrator trusts what that user extracted, as with any installer run
// from that user's folder. Access to the file is all that counts: opening a
// file by its full path needs no right on the folders above it (everyone
// holds "Bypass traverse checking").
//
// The owner's entry names OWNER RIGHTS ("OW") rather than the user's SID, as
// the NSIS and Inno Setup samples do, which cannot read a token: the folder
// and the files belong to the account whose process creates them, the
// invoking user (or, in an elevated installation, Administrators). Windows
// knows "OW" from Vista on.
//
// The launcher's exit code goes to the installer's log, and becomes the
// action's result: 0 succeeds, 1223 (cancelled) and 1602 (the program's own
// user exit) end the installation as a user exit (msiexec returns 1602),
// anything else fails it (msiexec returns 1603) after the launcher has shown
// why.
//
// Plain Win32: builds with MinGW-w64 and with Microsoft's compiler; link
// msi.lib and advapi32.lib and export the entry with run_as_administrator.def.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>
#include <vector>

extern "C" UINT __stdcall RunAsAdministrator(MSIHANDLE install);

namespace {

constexpr DWORD kCancelled = 1223;   // ERROR_CANCELLED
constexpr int kNoUserInterface = 2;  // INSTALLUILEVEL_NONE
// The access list of the launcher's folder, in the security descriptor
// language: protected from the entries of the folder above (P); for the
// folder and, through inheritance (OICI), every file and folder in it: full
// control (FA) for SYSTEM (SY), Administrators (BA) and the owner (OW), and
// read and execute (0x1200a9: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) for
// Authenticated Users (AU).
constexpr const wchar_t* kFolderAccess =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;AU)";

class MsiHandle {
  public:
    MsiHandle() = default;
    explicit MsiHandle(MSIHANDLE handle) : handle_(handle) {}
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    ~MsiHandle() {
        if (handle_ != 0) MsiCloseHandle(handle_);
    }
    MSIHANDLE get() const { return handle_; }
    MSIHANDLE* receive() { return &handle_; }

  private:
    MSIHANDLE handle_ = 0;
};

class KernelHandle {
  public:
    explicit KernelHandle(HANDLE handle) : handle_(handle) {}
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    ~KernelHandle() {
        if (valid()) CloseHandle(handle_);
    }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

// A failure of the action before or around the launch, for the log.
struct Failure {
    std::wstring what;
    DWORD error;
};

void Log(MSIHANDLE install, const std::wstring& text) {
    MsiHandle record(MsiCreateRecord(1));
    // Field 0 is a template: the text goes in field 1, where brackets are not formatted.
    MsiRecordSetStringW(record.get(), 0, L"RunAsAdministrator: [1]");
    MsiRecordSetStringW(record.get(), 1, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    std::vector<wchar_t> value(64);
    for (;;) {
        DWORD size = static_cast<DWORD>(value.size());
        UINT result = MsiGetPropertyW(install, name, value.data(), &size);
        if (result == ERROR_SUCCESS) return std::wstring(value.data(), size);
        if (result != ERROR_MORE_DATA)
            throw Failure{std::wstring(L"reading property ") + name, result};
        value.resize(size + 1);
    }
}

// The process that shows the installer's window, or 0 without a user interface.
// Custom actions run in a host process of their own, never in the one that
// shows the user interface. Windows Installer names its client process in the
// CLIENTPROCESSID property; where that is not set (Wine), the action's host
// was started by the installing process, which also shows the user interface.
DWORD UserInterfaceProcess(MSIHANDLE install) {
    if (_wtoi(Property(install, L"UILevel").c_str()) <= kNoUserInterface) return 0;
    DWORD client = static_cast<DWORD>(_wtoi(Property(install, L"CLIENTPROCESSID").c_str()));
    if (client != 0) return client;
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
    }
    return 0;
}

// A security descriptor made from its text, released with the object.
class SecurityDescriptor {
  public:
    explicit SecurityDescriptor(const wchar_t* text) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1,
                                                                  &descriptor_, nullptr))
            throw Failure{L"making the folder's access list", GetLastError()};
    }
    SecurityDescriptor(const SecurityDescriptor&) = delete;
    SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
    ~SecurityDescriptor() { LocalFree(descriptor_); }
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// A fresh folder in the temporary folder that the other account can read,
// removed with the files put into it.
class ScratchFolder {
  public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH + 1];
        DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH)
            throw Failure{L"finding the temporary folder", GetLastError()};
        SecurityDescriptor access(kFolderAccess);
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = access.get();
        attributes.bInheritHandle = FALSE;
        // CreateDirectoryW gives the new folder that access list, and fails
        // if the folder exists: a folder made by someone else, with another
        // access list, is never used. The next name is tried then.
        for (unsigned attempt = 0;; ++attempt) {
            path_ = std::wstring(temp) + L"launcher-" + std::to_wstring(GetCurrentProcessId()) +
                    L"-" + std::to_wstring(GetTickCount() + attempt);
            if (CreateDirectoryW(path_.c_str(), &attributes)) return;
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS || attempt == 100)
                throw Failure{L"creating " + path_, error};
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        for (const std::wstring& file : files_) DeleteFileW(file.c_str());
        RemoveDirectoryW(path_.c_str());
    }
    // The path of a new file in the folder, deleted with the folder.
    std::wstring Add(const std::wstring& name) {
        files_.push_back(path_ + L"\\" + name);
        return files_.back();
    }

  private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

void ExtractBinary(MSIHANDLE install, const std::wstring& key, const std::wstring& path) {
    if (key.empty()) throw Failure{L"no Binary key given for " + path, ERROR_INVALID_PARAMETER};
    MsiHandle database(MsiGetActiveDatabase(install));
    MsiHandle view;
    UINT result = MsiDatabaseOpenViewW(
        database.get(), L"SELECT `Data` FROM `Binary` WHERE `Name` = ?", view.receive());
    if (result != ERROR_SUCCESS) throw Failure{L"opening the Binary table", result};
    MsiHandle query(MsiCreateRecord(1));
    MsiRecordSetStringW(query.get(), 1, key.c_str());
    result = MsiViewExecute(view.get(), query.get());
    if (result != ERROR_SUCCESS) throw Failure{L"querying the Binary table", result};
    MsiHandle row;
    result = MsiViewFetch(view.get(), row.receive());
    if (result != ERROR_SUCCESS) throw Failure{L"finding Binary row " + key, result};

    KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) throw Failure{L"creating " + path, GetLastError()};
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        result = MsiRecordReadStream(row.get(), 1, buffer.data(), &size);
        if (result != ERROR_SUCCESS) throw Failure{L"reading Binary row " + key, result};
        if (size == 0) return;
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), size, &written, nullptr) || written != size)
            throw Failure{L"writing " + path, GetLastError()};
    }
}

void SetDialogText(const wchar_t* variable, const std::wstring& text) {
    if (!SetEnvironmentVariableW(variable, text.c_str()))
        throw Failure{std::wstring(L"setting ") + variable, GetLastError()};
}

DWORD RunLauncher(MSIHANDLE install) {
    DWORD owner = UserInterfaceProcess(install);
    std::wstring arguments = Property(install, L"PROGRAM_ARGS");
    std::wstring program_key = Property(install, L"PROGRAM_BINARY");

    ScratchFolder folder;
    std::wstring launcher = folder.Add(L"launcher.exe");
    std::wstring program = folder.Add(program_key);
    ExtractBinary(install, Property(install, L"LAUNCHER_BINARY"), launcher);
    ExtractBinary(install, program_key, program);

    // The launcher reads the dialog's texts from the environment it inherits.
    SetDialogText(L"AuthDialogCaption", Property(install, L"AUTH_DIALOG_CAPTION"));
    SetDialogText(L"EmptyPasswordRestrictionMessage", Property(install, L"EMPTY_PASSWORD_MESSAGE"));

    // The launcher is the application name; its command line starts with the verb.
    std::wstring command_line = L"execute " + std::to_wstring(owner) + L" \"" + program + L"\"";
    if (!arguments.empty()) command_line += L" " + arguments;
    std::vector<wchar_t> writable(command_line.begin(), command_line.end());
    writable.push_back(L'\0');
    // The program inherits the launcher's current directory, which the other
    // account must be able to open: the Windows folder.
    wchar_t windows[MAX_PATH + 1];
    UINT windows_length = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    if (windows_length == 0 || windows_length > MAX_PATH)
        throw Failure{L"finding the Windows folder", GetLastError()};

    Log(install, L"starting " + launcher + L" " + command_line);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(launcher.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        windows, &startup, &started))
        throw Failure{L"starting " + launcher, GetLastError()};
    KernelHandle process(started.hProcess);
    CloseHandle(started.hThread);
    // The dialog's owner belongs to another process, which keeps pumping its
    // own messages: a plain wait here blocks nothing.
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code))
        throw Failure{L"reading the launcher's exit code", GetLastError()};
    return exit_code;
}

}  // namespace

extern "C" UINT __stdcall RunAsAdministrator(MSIHANDLE install) {
    try {
        DWORD exit_code = RunLauncher(install);
        Log(install, L"the launcher ended with exit code " + std::to_wstring(exit_code));
        if (exit_code == 0) return ERROR_SUCCESS;
        if (exit_code == kCancelled || exit_code == ERROR_INSTALL_USEREXIT)
            return ERROR_INSTALL_USEREXIT;
        return ERROR_INSTALL_FAILURE;
    } catch (const Failure& failure) {
        Log(install,
            L"failed " + failure.what + L" (error " + std::to_wstring(failure.error) + L")");
    } catch (...) {
        Log(install, L"failed: out of memory");
    }
    return ERROR_INSTALL_FAILURE;
}
