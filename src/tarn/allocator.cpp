#include "tarn/allocator.h"

#include <windows.h>

#include <new>

namespace tarn {

namespace {

// std::bad_alloc already says "bad allocation" with MinGW's runtime, but the
// text is part of what we show, so it is pinned here.
class BadAllocation : public std::bad_alloc {
  public:
    const char* what() const noexcept override { return "bad allocation"; }
};

}  // namespace

void ThrowBadAllocation() { throw BadAllocation(); }

void* Allocate(AllocatorObject* allocator, std::size_t bytes) {
    void* block = allocator ? allocator->Allocate(bytes) : HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!block) ThrowBadAllocation();
    return block;
}

void Free(AllocatorObject* allocator, void* block) noexcept {
    if (!block) return;
    if (allocator) {
        allocator->Free(block);
    } else {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

}  // namespace tarn
