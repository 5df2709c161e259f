#include "dll_search_refusal.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace testing_support {

namespace {

// "Return 0", popping the stdcall arguments on i686.
#ifdef _WIN64
const unsigned char kFailWithOneArgument[] = {0x31, 0xC0, 0xC3};   // xor eax,eax; ret
const unsigned char kFailWithTwoArguments[] = {0x31, 0xC0, 0xC3};  // xor eax,eax; ret
#else
const unsigned char kFailWithOneArgument[] = {0x31, 0xC0, 0xC2, 0x04, 0x00};   // ...; ret 4
const unsigned char kFailWithTwoArguments[] = {0x31, 0xC0, 0xC2, 0x08, 0x00};  // ...; ret 8
#endif
constexpr unsigned char kBreakpoint = 0xCC;
constexpr DWORD kEventWaitMs = 60000;

class Remote {
  public:
    explicit Remote(HANDLE process) : process_(process) {}

    bool Read(UINT_PTR address, void* bytes, SIZE_T size) const {
        SIZE_T done = 0;
        return ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(address), bytes, size,
                                 &done) &&
               done == size;
    }
    template <typename T>
    bool Read(UINT_PTR address, T& value) const {
        return Read(address, &value, sizeof(value));
    }
    bool Write(UINT_PTR address, const void* bytes, SIZE_T size) const {
        SIZE_T done = 0;
        bool written =
            WriteProcessMemory(process_, reinterpret_cast<LPVOID>(address), bytes, size, &done) &&
            done == size;
        return written && FlushInstructionCache(process_, reinterpret_cast<LPCVOID>(address), size);
    }
    std::string Name(UINT_PTR address) const {
        std::string name;
        char c = 0;
        while (name.size() < 256 && Read(address + name.size(), c) && c) name.push_back(c);
        return name;
    }
    UINT_PTR Copy(const unsigned char* code, SIZE_T size) const {
        void* place = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                     PAGE_EXECUTE_READWRITE);
        UINT_PTR address = reinterpret_cast<UINT_PTR>(place);
        return place && Write(address, code, size) ? address : 0;
    }

  private:
    HANDLE process_;
};

bool ReadHeaders(const Remote& remote, UINT_PTR base, IMAGE_NT_HEADERS& headers) {
    IMAGE_DOS_HEADER dos{};
    return remote.Read(base, dos) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
           remote.Read(base + static_cast<UINT_PTR>(dos.e_lfanew), headers) &&
           headers.Signature == IMAGE_NT_SIGNATURE;
}

// Points the image's kernel32 imports of the two functions at the failing
// code; true when both were found.
bool RedirectImports(const Remote& remote, UINT_PTR base) {
    IMAGE_NT_HEADERS headers{};
    if (!ReadHeaders(remote, base, headers)) return false;
    const UINT_PTR get_proc_address =
        remote.Copy(kFailWithTwoArguments, sizeof(kFailWithTwoArguments));
    const UINT_PTR set_dll_directory =
        remote.Copy(kFailWithOneArgument, sizeof(kFailWithOneArgument));
    if (!get_proc_address || !set_dll_directory) return false;
    int redirected = 0;
    const IMAGE_DATA_DIRECTORY& imports =
        headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    IMAGE_IMPORT_DESCRIPTOR dll{};
    for (UINT_PTR at = base + imports.VirtualAddress; remote.Read(at, dll) && dll.Name;
         at += sizeof(dll)) {
        if (_stricmp(remote.Name(base + dll.Name).c_str(), "kernel32.dll") != 0) continue;
        if (!dll.OriginalFirstThunk) return false;  // no names to go by
        UINT_PTR name_entry = base + dll.OriginalFirstThunk;
        UINT_PTR slot = base + dll.FirstThunk;
        IMAGE_THUNK_DATA thunk{};
        for (; remote.Read(name_entry, thunk) && thunk.u1.AddressOfData;
             name_entry += sizeof(thunk), slot += sizeof(thunk)) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk.u1.Ordinal)) continue;
            const std::string name =
                remote.Name(base + static_cast<UINT_PTR>(thunk.u1.AddressOfData) +
                            offsetof(IMAGE_IMPORT_BY_NAME, Name));
            UINT_PTR target = name == "GetProcAddress"     ? get_proc_address
                              : name == "SetDllDirectoryW" ? set_dll_directory
                                                           : 0;
            if (target && remote.Write(slot, &target, sizeof(target))) ++redirected;
        }
    }
    return redirected == 2;
}

bool ResumeAt(DWORD thread_id, UINT_PTR address) {
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, thread_id);
    if (!thread) return false;
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    bool moved = GetThreadContext(thread, &context) != FALSE;
#ifdef _WIN64
    context.Rip = address;
#else
    context.Eip = address;
#endif
    moved = moved && SetThreadContext(thread, &context);
    CloseHandle(thread);
    return moved;
}

}  // namespace

bool StartWithDllSearchRefused(const wchar_t* application, wchar_t* command_line,
                               PROCESS_INFORMATION& process, DWORD& error) {
    STARTUPINFOW startup_info{};
    startup_info.cb = sizeof(startup_info);
    if (!CreateProcessW(application, command_line, nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &startup_info, &process)) {
        error = GetLastError();
        return false;
    }
    const Remote remote(process.hProcess);
    UINT_PTR base = 0, entry = 0;
    unsigned char entry_byte = 0;
    for (;;) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, kEventWaitMs)) break;
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            base = reinterpret_cast<UINT_PTR>(event.u.CreateProcessInfo.lpBaseOfImage);
            IMAGE_NT_HEADERS headers{};
            if (!ReadHeaders(remote, base, headers)) break;
            entry = base + headers.OptionalHeader.AddressOfEntryPoint;
            if (!remote.Read(entry, entry_byte) || !remote.Write(entry, &kBreakpoint, 1)) break;
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            const UINT_PTR address = reinterpret_cast<UINT_PTR>(record.ExceptionAddress);
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && entry && address == entry) {
                bool ready = RedirectImports(remote, base) && remote.Write(entry, &entry_byte, 1) &&
                             ResumeAt(event.dwThreadId, entry);
                ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
                DebugSetProcessKillOnExit(FALSE);
                if (ready && DebugActiveProcessStop(process.dwProcessId)) return true;
                break;
            }
            // The loader's own breakpoint goes on; anything else is the program's.
            if (record.ExceptionCode != EXCEPTION_BREAKPOINT) status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    error = GetLastError() ? GetLastError() : ERROR_INTERNAL_ERROR;
    std::fprintf(stderr, "raw_starter: could not refuse the DLL search restriction (%lu)\n", error);
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return false;
}

}  // namespace testing_support
