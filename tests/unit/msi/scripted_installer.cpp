#include "scripted_installer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include "import_patch.h"

// After windows.h, which scripted_installer.h includes.
#include <tlhelp32.h>
#include <sddl.h>

namespace msi_test {

namespace {

constexpr MSIHANDLE kInstall = 500;
// Past this many reads of one property the action is looping.
constexpr int kPropertyReadLimit = 20;

enum class Kind { Record, Database, View, Row };

struct Handle {
    explicit Handle(Kind made) : kind(made) {}
    Kind kind;
    std::vector<std::wstring> fields;  // a record's fields, 0 to count
    std::wstring key;                  // a view's Binary row, once executed
    std::string data;                  // a row's stream
    std::wstring name;                 // the file a row is extracted to
    std::size_t read = 0;
};

HMODULE ActionModule() {
    static HMODULE module = [] {
        wchar_t own[MAX_PATH + 1] = {};
        DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
        std::wstring path(own, length);
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"run_as_administrator.dll";
        HMODULE loaded = LoadLibraryW(path.c_str());
        if (!loaded) throw std::runtime_error("cannot load run_as_administrator.dll");
        return loaded;
    }();
    return module;
}

template <class Function>
const void* Address(Function function) {
    return reinterpret_cast<const void*>(function);
}

}  // namespace

struct ScriptedInstaller::State {
    ScriptedInstaller* owner;
    std::map<MSIHANDLE, Handle> handles;
    MSIHANDLE next = 1000;
    std::map<std::wstring, int> reads;
    std::vector<std::unique_ptr<testing_support::ImportPatch>> patches;

    MSIHANDLE Make(Handle handle) {
        MSIHANDLE made = next++;
        handles.emplace(made, std::move(handle));
        owner->open_handles.insert(made);
        return made;
    }
    Handle* Find(MSIHANDLE handle, Kind kind) {
        auto found = handles.find(handle);
        return found != handles.end() && found->second.kind == kind ? &found->second : nullptr;
    }
};

namespace {

ScriptedInstaller::State* g_state = nullptr;

UINT WINAPI ScriptedGetProperty(MSIHANDLE install, LPCWSTR name, LPWSTR value, LPDWORD size) {
    ScriptedInstaller& installer = *g_state->owner;
    installer.property_reads.emplace_back(name);
    if (install != kInstall) return ERROR_INVALID_HANDLE;
    if (++g_state->reads[name] > kPropertyReadLimit) {
        ADD_FAILURE() << "property read again and again: "
                      << std::string(name, name + wcslen(name));
        return ERROR_FUNCTION_FAILED;
    }
    auto found = installer.properties.find(name);
    std::wstring text = found == installer.properties.end() ? std::wstring() : found->second;
    // As the installer does: a buffer without room for the terminator gets
    // what fits and ERROR_MORE_DATA, and the size is the text's length.
    DWORD given = *size;
    *size = static_cast<DWORD>(text.size());
    if (given <= text.size()) {
        if (given > 0) value[text.copy(value, given - 1)] = L'\0';
        return ERROR_MORE_DATA;
    }
    value[text.copy(value, text.size())] = L'\0';
    return ERROR_SUCCESS;
}

MSIHANDLE WINAPI ScriptedCreateRecord(UINT count) {
    Handle record(Kind::Record);
    record.fields.resize(count + 1);
    return g_state->Make(std::move(record));
}

UINT WINAPI ScriptedRecordSetString(MSIHANDLE record, UINT field, LPCWSTR value) {
    Handle* found = g_state->Find(record, Kind::Record);
    if (!found) return ERROR_INVALID_HANDLE;
    if (field >= found->fields.size()) return ERROR_INVALID_PARAMETER;
    found->fields[field] = value ? value : L"";
    return ERROR_SUCCESS;
}

int WINAPI ScriptedProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) {
    Handle* found = g_state->Find(record, Kind::Record);
    if (install != kInstall || !found) return -1;
    if ((type & 0xFF000000) != INSTALLMESSAGE_INFO) return 0;
    // Field 0 is the template: [n] stands for field n. Without one, the
    // installer writes each field after its number.
    std::wstring text;
    const std::wstring& format = found->fields[0];
    if (format.empty()) {
        for (std::size_t i = 1; i < found->fields.size(); ++i) {
            text += std::to_wstring(i) + L": " + found->fields[i] + L" ";
        }
    } else {
        for (std::size_t i = 0; i < format.size(); ++i) {
            std::size_t close = format.find(L']', i);
            if (format[i] == L'[' && close != std::wstring::npos) {
                std::size_t n = std::wcstoul(format.c_str() + i + 1, nullptr, 10);
                if (n > 0 && n < found->fields.size()) {
                    text += found->fields[n];
                    i = close;
                    continue;
                }
            }
            text += format[i];
        }
    }
    g_state->owner->log.push_back(text);
    return IDOK;
}

MSIHANDLE WINAPI ScriptedGetActiveDatabase(MSIHANDLE install) {
    if (install != kInstall) return 0;
    return g_state->Make(Handle(Kind::Database));
}

UINT WINAPI ScriptedDatabaseOpenView(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view) {
    if (!g_state->Find(database, Kind::Database)) return ERROR_INVALID_HANDLE;
    g_state->owner->queries.emplace_back(query);
    *view = g_state->Make(Handle(Kind::View));
    return ERROR_SUCCESS;
}

UINT WINAPI ScriptedViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
    Handle* found = g_state->Find(view, Kind::View);
    Handle* record = g_state->Find(parameters, Kind::Record);
    if (!found || !record || record->fields.size() < 2) return ERROR_INVALID_HANDLE;
    found->key = record->fields[1];
    return ERROR_SUCCESS;
}

UINT WINAPI ScriptedViewFetch(MSIHANDLE view, MSIHANDLE* row) {
    Handle* found = g_state->Find(view, Kind::View);
    if (!found) return ERROR_INVALID_HANDLE;
    auto data = g_state->owner->binary_rows.find(found->key);
    if (data == g_state->owner->binary_rows.end()) return ERROR_NO_MORE_ITEMS;
    // The action names the launcher's file launcher.exe and the program's
    // after its row.
    std::wstring file = found->key == g_state->owner->properties[L"LAUNCHER_BINARY"]
                            ? std::wstring(L"launcher.exe")
                            : found->key;
    Handle made(Kind::Row);
    made.data = data->second;
    made.name = file;
    *row = g_state->Make(std::move(made));
    return ERROR_SUCCESS;
}

UINT WINAPI ScriptedRecordReadStream(MSIHANDLE row, UINT field, char* buffer, LPDWORD size) {
    Handle* found = g_state->Find(row, Kind::Row);
    if (!found || field != 1) return ERROR_INVALID_PARAMETER;
    ScriptedInstaller& installer = *g_state->owner;
    if (!installer.created_directories.empty()) {
        std::wstring path = installer.created_directories.back() + L"\\" + found->name;
        HANDLE other = CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        installer.opens_while_written.push_back(other == INVALID_HANDLE_VALUE ? GetLastError() : 0);
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    }
    std::size_t count = std::min<std::size_t>(*size, found->data.size() - found->read);
    std::memcpy(buffer, found->data.data() + found->read, count);
    found->read += count;
    *size = static_cast<DWORD>(count);
    return ERROR_SUCCESS;
}

UINT WINAPI ScriptedCloseHandle(MSIHANDLE handle) {
    ScriptedInstaller& installer = *g_state->owner;
    if (installer.open_handles.erase(handle) == 0) {
        installer.unknown_closes.push_back(handle);
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

DWORD WINAPI ScriptedGetTempPath(DWORD count, LPWSTR buffer) {
    ScriptedInstaller& installer = *g_state->owner;
    if (installer.temp_path) return installer.temp_path(count, buffer);
    const std::wstring& folder = installer.temp_folder();
    if (count <= folder.size()) return static_cast<DWORD>(folder.size() + 1);
    buffer[folder.copy(buffer, folder.size())] = L'\0';
    return static_cast<DWORD>(folder.size());
}

BOOL WINAPI RecordedConvertDescriptor(LPCWSTR text, DWORD revision,
                                      PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
    BOOL converted =
        ConvertStringSecurityDescriptorToSecurityDescriptorW(text, revision, descriptor, size);
    if (converted) g_state->owner->descriptors_made.push_back(*descriptor);
    return converted;
}

HLOCAL WINAPI RecordedLocalFree(HLOCAL memory) {
    g_state->owner->local_frees.push_back(memory);
    return LocalFree(memory);
}

BOOL WINAPI ScriptedCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    ScriptedInstaller& installer = *g_state->owner;
    installer.created_directories.emplace_back(path);
    if (installer.create_directory) return installer.create_directory(path);
    return CreateDirectoryW(path, attributes);
}

BOOL WINAPI ScriptedWriteFile(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    ScriptedInstaller& installer = *g_state->owner;
    if (installer.write_file) return installer.write_file(file, bytes, count, written);
    return WriteFile(file, bytes, count, written, overlapped);
}

UINT WINAPI ScriptedGetWindowsDirectory(LPWSTR buffer, UINT count) {
    ScriptedInstaller& installer = *g_state->owner;
    if (installer.windows_directory) return installer.windows_directory(buffer, count);
    return GetWindowsDirectoryW(buffer, count);
}

std::wstring Variable(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::string FileBytes(const wchar_t* path) {
    std::string bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
}

BOOL WINAPI ScriptedCreateProcess(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES,
                                  LPSECURITY_ATTRIBUTES, BOOL inherit_handles, DWORD, LPVOID,
                                  LPCWSTR current_directory, LPSTARTUPINFOW,
                                  LPPROCESS_INFORMATION started) {
    ScriptedInstaller& installer = *g_state->owner;
    installer.launches.push_back(
        Launch{application ? application : L"", command_line ? command_line : L"",
               current_directory ? current_directory : L"", inherit_handles != FALSE,
               application ? FileBytes(application) : std::string(), Variable(L"AuthDialogCaption"),
               Variable(L"EmptyPasswordRestrictionMessage")});
    if (installer.launch_error != 0) {
        SetLastError(installer.launch_error);
        return FALSE;
    }
    // Signalled events stand for the process and its thread: the wait ends at once.
    started->hProcess = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    started->hThread = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    installer.launches.back().process = started->hProcess;
    installer.launches.back().thread = started->hThread;
    started->dwProcessId = 4242;
    started->dwThreadId = 4243;
    return TRUE;
}

HANDLE WINAPI ScriptedSnapshot(DWORD flags, DWORD process) {
    ScriptedInstaller& installer = *g_state->owner;
    if (installer.snapshot_fails) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (installer.processes.empty()) return CreateToolhelp32Snapshot(flags, process);
    // An event stands for the snapshot, so that closing it is a real close.
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

std::size_t g_next_process = 0;

BOOL NextProcess(LPPROCESSENTRY32W entry) {
    const auto& processes = g_state->owner->processes;
    if (g_next_process >= processes.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    entry->th32ProcessID = processes[g_next_process].first;
    entry->th32ParentProcessID = processes[g_next_process].second;
    ++g_next_process;
    return TRUE;
}

BOOL WINAPI ScriptedProcessFirst(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    if (g_state->owner->processes.empty()) return Process32FirstW(snapshot, entry);
    g_next_process = 0;
    return NextProcess(entry);
}

BOOL WINAPI ScriptedProcessNext(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    if (g_state->owner->processes.empty()) return Process32NextW(snapshot, entry);
    return NextProcess(entry);
}

BOOL WINAPI ScriptedGetExitCodeProcess(HANDLE, LPDWORD exit_code) {
    *exit_code = g_state->owner->exit_code;
    return TRUE;
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + L"\\");
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

ScriptedInstaller::ScriptedInstaller() : state_(new State) {
    state_->owner = this;
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    static int serial = 0;
    temp_folder_ = std::wstring(temp, length) + L"msi-action-test-" +
                   std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
    CreateDirectoryW(temp_folder_.c_str(), nullptr);
    temp_folder_ += L'\\';

    HMODULE action = ActionModule();
    auto patch = [&](const char* dll, const char* name, const void* replacement) {
        state_->patches.push_back(
            std::make_unique<testing_support::ImportPatch>(dll, name, replacement, action));
    };
    patch("msi.dll", "MsiGetPropertyW", Address(&ScriptedGetProperty));
    patch("msi.dll", "MsiCreateRecord", Address(&ScriptedCreateRecord));
    patch("msi.dll", "MsiRecordSetStringW", Address(&ScriptedRecordSetString));
    patch("msi.dll", "MsiProcessMessage", Address(&ScriptedProcessMessage));
    patch("msi.dll", "MsiGetActiveDatabase", Address(&ScriptedGetActiveDatabase));
    patch("msi.dll", "MsiDatabaseOpenViewW", Address(&ScriptedDatabaseOpenView));
    patch("msi.dll", "MsiViewExecute", Address(&ScriptedViewExecute));
    patch("msi.dll", "MsiViewFetch", Address(&ScriptedViewFetch));
    patch("msi.dll", "MsiRecordReadStream", Address(&ScriptedRecordReadStream));
    patch("msi.dll", "MsiCloseHandle", Address(&ScriptedCloseHandle));
    patch("KERNEL32.dll", "GetTempPathW", Address(&ScriptedGetTempPath));
    patch("KERNEL32.dll", "CreateDirectoryW", Address(&ScriptedCreateDirectory));
    patch("KERNEL32.dll", "LocalFree", Address(&RecordedLocalFree));
    patch("ADVAPI32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorW",
          Address(&RecordedConvertDescriptor));
    patch("KERNEL32.dll", "GetWindowsDirectoryW", Address(&ScriptedGetWindowsDirectory));
    patch("KERNEL32.dll", "WriteFile", Address(&ScriptedWriteFile));
    patch("KERNEL32.dll", "CreateProcessW", Address(&ScriptedCreateProcess));
    patch("KERNEL32.dll", "GetExitCodeProcess", Address(&ScriptedGetExitCodeProcess));
    patch("KERNEL32.dll", "CreateToolhelp32Snapshot", Address(&ScriptedSnapshot));
    patch("KERNEL32.dll", "Process32FirstW", Address(&ScriptedProcessFirst));
    patch("KERNEL32.dll", "Process32NextW", Address(&ScriptedProcessNext));
    g_state = state_.get();
}

ScriptedInstaller::~ScriptedInstaller() {
    g_state = nullptr;
    RemoveTree(temp_folder_);
}

UINT ScriptedInstaller::Run() {
    using Entry = UINT(WINAPI*)(MSIHANDLE);
    auto entry = reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(ActionModule(), "RunAsAdministrator")));
    if (!entry) throw std::runtime_error("no RunAsAdministrator export");
    return entry(kInstall);
}

bool FolderIsEmpty(const std::wstring& folder) {
    std::wstring pattern = folder;
    if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((pattern + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") empty = false;
    } while (empty && FindNextFileW(search, &entry));
    FindClose(search);
    return empty;
}

}  // namespace msi_test
