// Erases secrets with writes that the compiler may not remove.
#pragma once

#include <cstddef>

namespace launcher {

inline void SecureZero(void* memory, std::size_t bytes) noexcept {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(memory);
    while (bytes--) *p++ = 0;
}

}  // namespace launcher
