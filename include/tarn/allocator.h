// The framework allocator: an optional reference-counted allocator object,
// else the process heap. A null answer becomes std::bad_alloc.
#pragma once

#include <cstddef>

namespace tarn {

class AllocatorObject {
  public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    // Returns the block, or null when no memory is left.
    virtual void* Allocate(std::size_t bytes) = 0;
    virtual void Free(void* block) = 0;

  protected:
    ~AllocatorObject() = default;
};

// Throws std::bad_alloc whose what() is "bad allocation".
[[noreturn]] void ThrowBadAllocation();

// Throws std::bad_alloc ("bad allocation") when no block is returned.
void* Allocate(AllocatorObject* allocator, std::size_t bytes);
void Free(AllocatorObject* allocator, void* block) noexcept;

// Holds one reference to an allocator object, or none.
class AllocatorRef {
  public:
    AllocatorRef() noexcept = default;
    explicit AllocatorRef(AllocatorObject* allocator) noexcept : allocator_(allocator) {
        if (allocator_) allocator_->AddRef();
    }
    AllocatorRef(const AllocatorRef& other) noexcept : AllocatorRef(other.allocator_) {}
    AllocatorRef(AllocatorRef&& other) noexcept : allocator_(other.allocator_) {
        other.allocator_ = nullptr;
    }
    AllocatorRef& operator=(AllocatorRef other) noexcept {
        swap(other);
        return *this;
    }
    ~AllocatorRef() {
        if (allocator_) allocator_->Release();
    }
    void swap(AllocatorRef& other) noexcept {
        AllocatorObject* held = allocator_;
        allocator_ = other.allocator_;
        other.allocator_ = held;
    }
    AllocatorObject* get() const noexcept { return allocator_; }

  private:
    AllocatorObject* allocator_ = nullptr;
};

}  // namespace tarn
