// Test helper: reads one pointer-sized value from the main image of the
// process that started this one, so that tests can see the launcher's stack
// guard while the launcher waits for its child.
//
//   guard_reader <report file> <rva in hex>
//
// Appends the value at <rva> of the parent's executable image to the report
// file as one line of hex. Exit code 0 when it was read, 2 otherwise.
// psapi.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

#include <cstdio>
#include <cwchar>

#include "parent_process.h"

namespace {

bool ReadParentValue(UINT_PTR rva, UINT_PTR& value) {
    HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                testing_support::ParentProcessId());
    if (!parent) return false;
    HMODULE image = nullptr;  // the first module is the executable
    DWORD needed = 0;
    SIZE_T read = 0;
    bool done = EnumProcessModules(parent, &image, sizeof(image), &needed) && image &&
                ReadProcessMemory(parent, reinterpret_cast<const char*>(image) + rva, &value,
                                  sizeof(value), &read) &&
                read == sizeof(value);
    CloseHandle(parent);
    return done;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: guard_reader <report file> <rva in hex>\n");
        return 2;
    }
    UINT_PTR value = 0;
    if (!ReadParentValue(static_cast<UINT_PTR>(std::wcstoull(argv[2], nullptr, 16)), value)) {
        return 2;
    }
    FILE* report = _wfopen(argv[1], L"a");
    if (!report) return 2;
    std::fprintf(report, "%llx\n", static_cast<unsigned long long>(value));
    return std::fclose(report) == 0 ? 0 : 2;
}
