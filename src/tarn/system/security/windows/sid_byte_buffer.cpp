#include "tarn/system/security/windows/sid_byte_buffer.h"

#include <cstring>
#include <stdexcept>

namespace tarn {
namespace windows {
namespace security {
namespace detail {

namespace {

constexpr std::uint64_t kMaxSize = 0xFFFFFFFFu;

}  // namespace

SidByteBuffer::SidByteBuffer(const SidByteBuffer& other) : allocator_(other.allocator_) {
    if (other.empty()) return;
    const std::size_t byte_count = other.size();
    begin_ = static_cast<std::uint8_t*>(Allocate(allocator_.get(), byte_count));
    std::memcpy(begin_, other.begin_, byte_count);
    end_ = begin_ + byte_count;
    capacity_end_ = end_;
}

SidByteBuffer::SidByteBuffer(SidByteBuffer&& other) noexcept { swap(other); }

SidByteBuffer::~SidByteBuffer() { Free(allocator_.get(), begin_); }

void SidByteBuffer::resize(std::size_t new_size) {
    std::size_t old_size = size();
    if (new_size <= old_size) {
        end_ = begin_ + new_size;
        return;
    }
    if (new_size <= capacity()) {
        std::memset(end_, 0, new_size - old_size);
        end_ = begin_ + new_size;
        return;
    }
    if (static_cast<std::uint64_t>(new_size) > kMaxSize) throw std::length_error("vector::append");
    std::uint64_t doubled = 2 * static_cast<std::uint64_t>(old_size);
    std::uint64_t new_capacity = doubled > new_size ? doubled : new_size;
    if (new_capacity > kMaxSize) new_capacity = kMaxSize;

    auto* block = static_cast<std::uint8_t*>(
        Allocate(allocator_.get(), static_cast<std::size_t>(new_capacity)));
    std::memset(block + old_size, 0, new_size - old_size);
    if (old_size != 0) std::memcpy(block, begin_, old_size);
    Free(allocator_.get(), begin_);
    begin_ = block;
    end_ = block + new_size;
    capacity_end_ = block + new_capacity;
}

void SidByteBuffer::swap(SidByteBuffer& other) noexcept {
    std::uint8_t* begin = begin_;
    std::uint8_t* end = end_;
    std::uint8_t* capacity_end = capacity_end_;
    begin_ = other.begin_;
    end_ = other.end_;
    capacity_end_ = other.capacity_end_;
    other.begin_ = begin;
    other.end_ = end;
    other.capacity_end_ = capacity_end;
    allocator_.swap(other.allocator_);
}

}  // namespace detail
}  // namespace security
}  // namespace windows
}  // namespace tarn
