// The stack protector's guard value and its failure handler, for the
// launcher executable. The compiler's support library would set the guard
// through the crypto API, which loads a cryptographic provider library by
// name before wWinMain (tens of milliseconds under Wine); the system's own
// random-number function gives a value of the same quality without one.
#include <windows.h>
// RtlGenRandom needs windows.h first.
#include <ntsecapi.h>

extern "C" {

// Non-zero until set, so that even a failed set-up leaves a guard that a
// string copy cannot reproduce by accident. The compiler's reserved names are
// the point: these definitions take the support library's place.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,performance-no-int-to-ptr)
void* __stack_chk_guard = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x2F6A1C5Du));

// A smashed stack ends the process at once, with the status the system's own
// stack checks report: no unwinding, no handlers, no message of ours.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
[[noreturn]] void __stack_chk_fail() {
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}

}  // extern "C"

namespace {

// Runs right after the DLL search is restricted (priority 101), before any
// other constructor, and carries no guard of its own: the value it checks
// against is the one it changes.
__attribute__((constructor(102), no_stack_protector)) void SetStackGuard() {
    void* value = nullptr;
    if (RtlGenRandom(&value, sizeof(value)) && value) __stack_chk_guard = value;
}

}  // namespace
