// Test support: loads a DLL into a new process before any of the program's
// own code runs (never shipped).
#pragma once

#include <windows.h>

namespace testing_support {

// `process` and `thread` are a process and its first thread as
// CreateProcessW returns them with CREATE_SUSPENDED, before the thread has
// ever run. Queues LoadLibraryW(dll_path) as an asynchronous procedure call to
// that thread: when it is resumed, the loader initialises the process (the
// program's imports are bound and their DLLs initialised) and then, before
// the program's entry point, delivers the call, as Windows and Wine both do.
// The caller resumes the thread. Returns 0, or the Windows error of the step
// that failed (ERROR_EXE_MACHINE_TYPE_MISMATCH when the process is of the
// other word size, whose loader this DLL cannot be).
DWORD QueueDllLoad(HANDLE process, HANDLE thread, const wchar_t* dll_path);

}  // namespace testing_support
