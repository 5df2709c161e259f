// Test probe linked with the launcher's stack guard and failure handler
// (src/launcher/stack_guard.cpp), built with the same stack protection.
//
//   stack_guard_probe guard   exits with the low 32 bits of the guard value
//   stack_guard_probe smash   overruns a guarded buffer; the handler ends the
//                             process (exit code 0 if it returns after all)
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void* __stack_chk_guard;

namespace {

// Read at run time, so that the compiler cannot see the overrun coming.
volatile std::size_t g_overrun_bytes = 64;

__attribute__((noinline)) void OverrunBuffer() {
    char buffer[16];
    const std::size_t count = g_overrun_bytes;
    for (std::size_t i = 0; i < count; ++i) buffer[i] = 'x';
    // Keeps the buffer and its writes alive.
    asm volatile("" : : "r"(buffer) : "memory");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"guard") == 0) {
        return static_cast<int>(reinterpret_cast<UINT_PTR>(__stack_chk_guard) & 0xFFFFFFFFu);
    }
    if (argc == 2 && std::wcscmp(argv[1], L"smash") == 0) {
        OverrunBuffer();
        return 0;
    }
    return 2;
}
