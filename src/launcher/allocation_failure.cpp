// Running out of memory reads "bad allocation" wherever it happens: the
// standard containers allocate through here, and fail the way the
// framework's allocator does. The matching deletes release what malloc gave.
#include <cstdlib>
#include <new>

#include "tarn/allocator.h"

void* operator new(std::size_t size) {
    if (size == 0) size = 1;
    for (;;) {
        if (void* block = std::malloc(size)) return block;
        std::new_handler handler = std::get_new_handler();
        if (!handler) tarn::ThrowBadAllocation();
        handler();
    }
}

void* operator new[](std::size_t size) { return operator new(size); }

void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t) noexcept { std::free(block); }

void operator delete[](void* block) noexcept { std::free(block); }

void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
