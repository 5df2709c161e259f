// Test stand-in, never shipped: the folder ACL recorder. Wine keeps no
// access list (whatever security descriptor a folder is created with, it
// reads back one made from the Unix permission bits), so what a program asks
// for can only be seen at the call. Loaded into a program before its own code
// runs (raw_starter's "inject" option), this DLL records every call of
// CreateDirectoryW, with the security descriptor it was given written as
// SDDL, and every call of CreateProcessW, one JSON line each, appended to the
// file named by FOLDER_ACL_RECORDER_LOG.
//
// Installers reach these functions in every way there is: NSIS's System
// plug-in and Inno Setup's `external` functions through GetProcAddress, a
// custom-action DLL through its import table, bound when the DLL is loaded,
// setup programs through import tables bound before this DLL came. So the
// recorder points the export of each function (in kernel32.dll, and in
// kernelbase.dll where the code lies) at its own replacement, which serves
// GetProcAddress and every module loaded later, and rewrites the import
// table entries of the modules already loaded. The replacements call the
// function's code as it was.
//
// FOLDER_ACL_RECORDER_FOLLOW names programs, by file name, separated by ';'
// (e.g. "msiexec.exe"): a process that the recorder is in and that starts
// one of them starts it suspended, loads the recorder into it the same way
// and resumes it. So the recorder follows Inno Setup's setup.tmp and the
// Windows Installer's custom-action server, and leaves the launcher alone.
//
// Records ("process_id" in each):
//   {"event":"attached","image":...,"user_sid":...,"redirected":[names]}
//   {"event":"create_directory","path":...,"security_descriptor":SDDL or
//    null,"result":bool,"error":N}
//   {"event":"create_process","application":...,"command_line":...,
//    "result":bool,"error":N,"child_process_id":N,"followed":bool,
//    "follow_error":N}
// windows.h has to come first.
// clang-format off
#include <windows.h>
#include <psapi.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "dll_injection.h"
#include "json_record.h"
#include "security_descriptor_text.h"

namespace {

constexpr const wchar_t* kLogVariable = L"FOLDER_ACL_RECORDER_LOG";
constexpr const wchar_t* kFollowVariable = L"FOLDER_ACL_RECORDER_FOLLOW";

using CreateDirectoryFunction = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
using CreateProcessFunction = BOOL(WINAPI*)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES,
                                            LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                                            LPSTARTUPINFOW, LPPROCESS_INFORMATION);

// Memory that LocalFree releases, and a kernel handle.
using testing_support::DescriptorText;
using testing_support::LocalText;
using KernelHandle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;

CreateDirectoryFunction g_create_directory = nullptr;
CreateProcessFunction g_create_process = nullptr;
wchar_t g_own_path[MAX_PATH + 1] = {};

std::string Field(const char* name, const std::string& json) {
    return std::string(",\"") + name + "\":" + json;
}

std::string Number(unsigned long value) { return std::to_string(value); }

void Record(const char* event, const std::string& fields) {
    testing_support::AppendRecord(
        kLogVariable, std::string("{\"event\":\"") + event + "\"" +
                          Field("process_id", Number(GetCurrentProcessId())) + fields + "}");
}

BOOL WINAPI RecordedCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    const std::string descriptor = DescriptorText(attributes);
    const BOOL created = g_create_directory(path, attributes);
    const DWORD error = created ? 0 : GetLastError();
    Record("create_directory", Field("path", testing_support::JsonString(path)) +
                                   Field("security_descriptor", descriptor) +
                                   Field("result", testing_support::JsonBool(created)) +
                                   Field("error", Number(error)));
    SetLastError(error);
    return created;
}

// The file name of the program that CreateProcessW would start.
std::wstring ProgramFileName(LPCWSTR application, const std::wstring& command_line) {
    std::wstring program;
    if (application) {
        program = application;
    } else if (!command_line.empty() && command_line[0] == L'"') {
        program = command_line.substr(1, command_line.find(L'"', 1) - 1);
    } else {
        program = command_line.substr(0, command_line.find_first_of(L" \t"));
    }
    const std::wstring::size_type separator = program.find_last_of(L"\\/");
    return separator == std::wstring::npos ? program : program.substr(separator + 1);
}

bool Followed(const std::wstring& file_name) {
    const std::wstring names = testing_support::EnvironmentValue(kFollowVariable);
    std::wstring::size_type start = 0;
    while (start <= names.size()) {
        std::wstring::size_type end = names.find(L';', start);
        if (end == std::wstring::npos) end = names.size();
        const std::wstring name = names.substr(start, end - start);
        if (!name.empty() && lstrcmpiW(name.c_str(), file_name.c_str()) == 0) return true;
        start = end + 1;
    }
    return false;
}

BOOL WINAPI RecordedCreateProcessW(LPCWSTR application, LPWSTR command_line,
                                   LPSECURITY_ATTRIBUTES process_attributes,
                                   LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                                   DWORD flags, LPVOID environment, LPCWSTR current_directory,
                                   LPSTARTUPINFOW startup_info,
                                   LPPROCESS_INFORMATION process_information) {
    // CreateProcessW may write into the command line: keep it as it came.
    const std::wstring command = command_line ? command_line : L"";
    const bool follow = Followed(ProgramFileName(application, command));
    const BOOL started =
        g_create_process(application, command_line, process_attributes, thread_attributes,
                         inherit_handles, follow ? flags | CREATE_SUSPENDED : flags, environment,
                         current_directory, startup_info, process_information);
    const DWORD error = started ? 0 : GetLastError();
    DWORD follow_error = 0;
    if (started && follow) {
        follow_error = testing_support::QueueDllLoad(process_information->hProcess,
                                                     process_information->hThread, g_own_path);
        if (!(flags & CREATE_SUSPENDED)) ResumeThread(process_information->hThread);
    }
    Record("create_process",
           Field("application", testing_support::JsonString(application)) +
               Field("command_line",
                     command_line ? testing_support::JsonString(command) : std::string("null")) +
               Field("result", testing_support::JsonBool(started)) + Field("error", Number(error)) +
               Field("child_process_id", Number(started ? process_information->dwProcessId : 0)) +
               Field("followed", testing_support::JsonBool(started && follow)) +
               Field("follow_error", Number(follow_error)));
    SetLastError(error);
    return started;
}

template <class T>
T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

const IMAGE_NT_HEADERS* Headers(HMODULE module) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    return At<const IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
}

bool WriteProtected(void* place, const void* value, SIZE_T size) {
    DWORD old_protection = 0;
    if (!VirtualProtect(place, size, PAGE_READWRITE, &old_protection)) return false;
    std::memcpy(place, value, size);
    VirtualProtect(place, size, old_protection, &old_protection);
    FlushInstructionCache(GetCurrentProcess(), place, size);
    return true;
}

// The address an export can name: an export holds a 32-bit offset from its
// module. On i686 every address is one (the sum wraps); on x86_64 the
// replacement is reached through a jump placed within 2 GB above the module.
void* ExportableAddress(HMODULE module, void* replacement) {
#ifdef _WIN64
    // jmp qword ptr [rip+0], then the target.
    unsigned char jump[14] = {0xFF, 0x25, 0, 0, 0, 0};
    std::memcpy(jump + 6, &replacement, sizeof(replacement));
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const std::uintptr_t granularity = system.dwAllocationGranularity;
    const auto base = reinterpret_cast<std::uintptr_t>(module);
    const std::uintptr_t limit = base + 0x7FFF0000u;
    auto align = [granularity](std::uintptr_t at) {
        return (at + granularity - 1) & ~(granularity - 1);
    };
    for (std::uintptr_t at = align(base + Headers(module)->OptionalHeader.SizeOfImage);
         at < limit;) {
        MEMORY_BASIC_INFORMATION region{};
        if (!VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof(region))) return nullptr;
        if (region.State == MEM_FREE) {
            void* place = VirtualAlloc(reinterpret_cast<void*>(at), sizeof(jump),
                                       MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
            if (place) {
                std::memcpy(place, jump, sizeof(jump));
                FlushInstructionCache(GetCurrentProcess(), place, sizeof(jump));
                return place;
            }
        }
        at = align(reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize);
    }
    return nullptr;
#else
    static_cast<void>(module);
    return replacement;
#endif
}

// Points the module's export `name` at the replacement, unless the export is
// a forwarder (the module it names holds the code). `code` receives the
// address the export had, or stays null. False when the export cannot be
// redirected.
bool RedirectExport(HMODULE module, const char* name, void* replacement, void*& code) {
    const IMAGE_DATA_DIRECTORY& directory =
        Headers(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) return true;
    const auto* exports = At<const IMAGE_EXPORT_DIRECTORY>(module, directory.VirtualAddress);
    const auto* names = At<const DWORD>(module, exports->AddressOfNames);
    const auto* ordinals = At<const WORD>(module, exports->AddressOfNameOrdinals);
    auto* functions = At<DWORD>(module, exports->AddressOfFunctions);
    for (DWORD index = 0; index < exports->NumberOfNames; ++index) {
        if (std::strcmp(At<const char>(module, names[index]), name) != 0) continue;
        DWORD* slot = &functions[ordinals[index]];
        if (*slot >= directory.VirtualAddress &&
            *slot < directory.VirtualAddress + directory.Size) {
            return true;  // a forwarder
        }
        code = At<void>(module, *slot);
        void* target = ExportableAddress(module, replacement);
        if (!target) return false;
        const std::uintptr_t distance =
            reinterpret_cast<std::uintptr_t>(target) - reinterpret_cast<std::uintptr_t>(module);
        const auto offset = static_cast<DWORD>(distance);
        return WriteProtected(slot, &offset, sizeof(offset));
    }
    return true;
}

// Rewrites every import table entry of the module that holds one of the
// `previous` addresses.
void RedirectImports(HMODULE module, const std::vector<void*>& previous, void* replacement) {
    const IMAGE_DATA_DIRECTORY& directory =
        Headers(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return;
    for (auto* dll = At<const IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
         dll->Name != 0; ++dll) {
        // Entries are copied, not read through a typed pointer: lld leaves
        // 64-bit import tables on 4-byte boundaries.
        for (auto* slot = At<BYTE>(module, dll->FirstThunk);; slot += sizeof(void*)) {
            void* entry = nullptr;
            std::memcpy(&entry, slot, sizeof(entry));
            if (!entry) break;
            if (std::any_of(previous.begin(), previous.end(),
                            [entry](const void* old) { return old && entry == old; })) {
                WriteProtected(slot, &replacement, sizeof(replacement));
            }
        }
    }
}

std::vector<HMODULE> LoadedModules() {
    std::vector<HMODULE> modules(256);
    for (;;) {
        DWORD needed = 0;
        const DWORD size = static_cast<DWORD>(modules.size()) * DWORD{sizeof(HMODULE)};
        if (!EnumProcessModules(GetCurrentProcess(), modules.data(), size, &needed)) return {};
        if (needed <= size) {
            modules.resize(needed / sizeof(HMODULE));
            return modules;
        }
        modules.resize(needed / sizeof(HMODULE));
    }
}

// Sends every caller of kernel32's `name` to the replacement; `original`
// receives the function's code. True when GetProcAddress then gives the
// replacement's way in.
bool Redirect(HMODULE self, const char* name, void* replacement, void** original) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    void* resolved = reinterpret_cast<void*>(GetProcAddress(kernel32, name));
    if (!resolved) return false;
    void* kernel32_export = nullptr;
    void* kernelbase_export = nullptr;
    const HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
    if (!RedirectExport(kernel32, name, replacement, kernel32_export) ||
        (kernelbase && !RedirectExport(kernelbase, name, replacement, kernelbase_export))) {
        return false;
    }
    // Where kernel32 exports a stub that jumps through its own import of
    // kernelbase's function (Wine does), that import is redirected below:
    // the replacement must call kernelbase's code itself.
    *original = kernelbase_export ? kernelbase_export : resolved;
    const std::vector<void*> previous{resolved, kernel32_export, kernelbase_export};
    for (HMODULE module : LoadedModules()) {
        if (module != self) RedirectImports(module, previous, replacement);
    }
    void* now = reinterpret_cast<void*>(GetProcAddress(kernel32, name));
    return now != resolved && now != nullptr;
}

std::wstring UserSid() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return L"";
    const KernelHandle token(opened, CloseHandle);
    std::vector<BYTE> buffer(256);
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(),
                             static_cast<DWORD>(buffer.size()), &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        return L"";
    }
    const LocalText text(sid, LocalFree);
    return text.get();
}

void Attach(HMODULE self) {
    GetModuleFileNameW(self, g_own_path, MAX_PATH);
    std::string redirected;
    if (Redirect(self, "CreateDirectoryW", reinterpret_cast<void*>(&RecordedCreateDirectoryW),
                 reinterpret_cast<void**>(&g_create_directory))) {
        redirected += "\"CreateDirectoryW\"";
    }
    if (Redirect(self, "CreateProcessW", reinterpret_cast<void*>(&RecordedCreateProcessW),
                 reinterpret_cast<void**>(&g_create_process))) {
        redirected += redirected.empty() ? "\"CreateProcessW\"" : ",\"CreateProcessW\"";
    }
    wchar_t image[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, image, MAX_PATH);
    Record("attached", Field("image", testing_support::JsonString(image)) +
                           Field("user_sid", testing_support::JsonString(UserSid())) +
                           Field("redirected", "[" + redirected + "]"));
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        Attach(instance);
    }
    return TRUE;
}
