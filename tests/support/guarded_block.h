// Test support: memory blocks that end flush against a page nothing may
// touch, so that a write or read one byte past the end faults at once (the
// test program crashes, and its runner fails it) instead of landing in
// whatever the heap keeps after the block. Each block has pages of its own,
// released whole when it is freed: a later use of the freed block faults too.
#pragma once

#include <cstddef>

namespace testing_support {

// A block of `bytes` (at least one page of its own and the guard page after
// it), or null when no memory is left. Its address is as aligned as `bytes`
// lets it be: the block's end is the guard page's start.
void* AllocateGuarded(std::size_t bytes) noexcept;

// Releases a block from AllocateGuarded; null does nothing.
void FreeGuarded(void* block) noexcept;

}  // namespace testing_support
