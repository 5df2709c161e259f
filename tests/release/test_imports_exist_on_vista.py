"""Every function that dist/launcher.exe imports exists on Windows Vista.

The list below names each imported function with the first Windows version
that has it: the "minimum supported client" of its Microsoft reference page.
The C runtime's reference gives no such version; its entries are exports of
the msvcrt.dll that every Windows since 2000 ships. A new import fails the
test until it is listed here with its version."""
import collections

WINDOWS_2000 = (5, 0, "Windows 2000")
WINDOWS_XP = (5, 1, "Windows XP")
WINDOWS_XP_SP1 = (5, 1, "Windows XP SP1")
WINDOWS_VISTA = (6, 0, "Windows Vista")

LOWEST_SUPPORTED = WINDOWS_VISTA[:2]


def listed(version, *names):
    return {name: version for name in names}


INTRODUCED = {
    "advapi32.dll": listed(WINDOWS_XP, "CopySid", "CreateProcessWithLogonW", "CreateWellKnownSid",
                           "EqualSid", "GetLengthSid", "IsValidSid", "LookupAccountNameW",
                           "LookupAccountSidW", "SystemFunction036"),
    "kernel32.dll": {
        **listed(WINDOWS_2000, "CloseHandle", "DuplicateHandle", "GetComputerNameW",
                 "GetCurrentDirectoryW", "GetHandleInformation", "GetModuleFileNameW",
                 "GetSystemDirectoryW",
                 "GetSystemTimeAsFileTime", "IsDBCSLeadByteEx", "MultiByteToWideChar"),
        **listed(WINDOWS_XP, "AddVectoredExceptionHandler", "CreateEventA", "CreateSemaphoreA",
                 "GetCommandLineW",
                 "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary",
                 "GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThread",
                 "GetCurrentThreadId", "GetEnvironmentVariableW", "GetExitCodeProcess",
                 "GetLastError", "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress",
                 "GetProcessAffinityMask", "GetProcessHeap", "GetStartupInfoW",
                 "GetThreadContext", "GetThreadPriority", "HeapAlloc", "HeapFree",
                 "InitializeCriticalSection", "IsDebuggerPresent", "LeaveCriticalSection",
                 "LoadLibraryA", "LoadLibraryExW", "LoadLibraryW", "LocalFree", "OpenProcess",
                 "OutputDebugStringA", "RaiseException", "ReleaseSemaphore",
                 "RemoveVectoredExceptionHandler", "ResetEvent", "ResumeThread", "SetEvent",
                 "SetLastError", "SetProcessAffinityMask", "SetThreadContext",
                 "SetThreadPriority", "SetUnhandledExceptionFilter", "Sleep", "SuspendThread",
                 "TerminateProcess",
                 "TlsAlloc", "TlsGetValue", "TlsSetValue", "TryEnterCriticalSection",
                 "VirtualProtect", "VirtualQuery", "WaitForMultipleObjects",
                 "WaitForSingleObject"),
        **listed(WINDOWS_XP_SP1, "SetDllDirectoryW"),
        **listed(WINDOWS_VISTA, "GetTickCount64"),
    },
    "msvcrt.dll": listed(WINDOWS_2000, "__mb_cur_max", "__p__commode", "__p__fmode",
                         "__p__wcmdln", "__set_app_type", "__setusermatherr", "__wgetmainargs",
                         "__winitenv", "_amsg_exit", "_beginthreadex", "_cexit", "_close",
                         "_endthreadex", "_errno", "_initterm", "_iob", "_onexit",
                         "_read", "_setjmp3", "_strdup", "_ultoa", "abort",
                         "atoi", "calloc", "exit", "fprintf", "free", "fwrite", "longjmp",
                         "malloc", "memchr", "memcmp", "memcpy", "memmove", "memset", "printf",
                         "realloc", "setlocale", "signal", "strchr", "strcmp", "strlen",
                         "strncmp", "vfprintf", "wcscmp", "wcslen", "wcstoul"),
    "ole32.dll": listed(WINDOWS_2000, "CoInitializeEx", "CoTaskMemFree", "CoUninitialize"),
    "shell32.dll": listed(WINDOWS_XP, "CommandLineToArgvW", "ShellExecuteExW"),
    "user32.dll": listed(WINDOWS_2000, "EnumWindows", "GetWindow", "GetWindowThreadProcessId",
                         "IsWindowVisible", "MessageBoxA", "MessageBoxW"),
}


def imported_functions(pe):
    functions = collections.defaultdict(set)
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        for function in entry.imports:
            name = function.name.decode() if function.name else f"#{function.ordinal}"
            functions[entry.dll.decode().lower()].add(name)
    return functions


def test_every_import_is_listed_with_a_version_vista_has(launcher_pe):
    unlisted = []
    too_new = []
    for dll, functions in sorted(imported_functions(launcher_pe).items()):
        for function in sorted(functions):
            version = INTRODUCED.get(dll, {}).get(function)
            if version is None:
                unlisted.append(f"{dll}!{function}")
            elif version[:2] > LOWEST_SUPPORTED:
                too_new.append(f"{dll}!{function} ({version[2]})")
    assert not unlisted, "imports without a listed Windows version: " + ", ".join(unlisted)
    assert not too_new, "imports that Windows Vista lacks: " + ", ".join(too_new)
