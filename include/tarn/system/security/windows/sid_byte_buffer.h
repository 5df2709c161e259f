// The growable byte buffer that holds the bytes of one SID: start, end of
// data, end of capacity and an allocator reference. Memory comes from the
// framework allocator. Growing zero-fills the new bytes; shrinking only
// moves the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarn/allocator.h"

namespace tarn {
namespace windows {
namespace security {
namespace detail {

class SidByteBuffer {
  public:
    SidByteBuffer() noexcept = default;
    explicit SidByteBuffer(AllocatorObject* allocator) noexcept : allocator_(allocator) {}
    // Copies the bytes and shares the allocator object (one more reference).
    SidByteBuffer(const SidByteBuffer& other);
    SidByteBuffer(SidByteBuffer&& other) noexcept;
    SidByteBuffer& operator=(SidByteBuffer other) noexcept {
        swap(other);
        return *this;
    }
    ~SidByteBuffer();

    std::uint8_t* data() noexcept { return begin_; }
    const std::uint8_t* data() const noexcept { return begin_; }
    std::size_t size() const noexcept { return static_cast<std::size_t>(end_ - begin_); }
    std::size_t capacity() const noexcept {
        return static_cast<std::size_t>(capacity_end_ - begin_);
    }
    bool empty() const noexcept { return begin_ == end_; }
    AllocatorObject* allocator() const noexcept { return allocator_.get(); }

    // Growing past the capacity reallocates to the greater of twice the old
    // size and the new size. Throws std::length_error ("vector::append")
    // when the new size does not fit in 32 bits, std::bad_alloc when no
    // memory is left; the buffer is unchanged then.
    void resize(std::size_t new_size);

    // Swaps bytes and allocator reference.
    void swap(SidByteBuffer& other) noexcept;

  private:
    std::uint8_t* begin_ = nullptr;
    std::uint8_t* end_ = nullptr;
    std::uint8_t* capacity_end_ = nullptr;
    AllocatorRef allocator_;
};

}  // namespace detail
}  // namespace security
}  // namespace windows
}  // namespace tarn
