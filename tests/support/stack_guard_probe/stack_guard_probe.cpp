// Test probe linked with the launcher's stack guard and failure handler
// (src/launcher/stack_guard.cpp), built with the same stack protection. It
// overruns a guarded buffer, so the handler ends it; exit code 0 if the
// overrun goes unnoticed.
#include <cstddef>

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

int main() {
    OverrunBuffer();
    return 0;
}
