// tarn::basic_string_t: the framework's string of code units. Short texts
// (up to 7 units) live inline; longer ones in one heap block that grows by
// doubling, from an allocator object or the process heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "tarn/allocator.h"

namespace tarn {

template <class CharT>
class basic_string_t {
  public:
    using value_type = CharT;
    using size_type = std::uint32_t;

    static constexpr size_type kInlineUnits = 8;
    static constexpr size_type kInlineCapacity = kInlineUnits - 1;
    static constexpr size_type kMaxSize = 0x7FFFFFFF;

    basic_string_t() noexcept : basic_string_t(static_cast<AllocatorObject*>(nullptr)) {}

    explicit basic_string_t(AllocatorObject* allocator) noexcept : allocator_(allocator) {
        std::memset(inline_, 0, sizeof(inline_));
    }

    // cppcheck-suppress noExplicitConstructor ; implicit by design: string_t s = u"text"
    basic_string_t(const CharT* text,
                   AllocatorObject* allocator = nullptr)  // NOLINT: implicit by design
        : basic_string_t(allocator) {
        append(text);
    }

    basic_string_t(const basic_string_t& other) : basic_string_t(other.allocator_.get()) {
        append(other.data_, other.size_);
    }

    basic_string_t(basic_string_t&& other) noexcept : basic_string_t(other.allocator_.get()) {
        take(other);
    }

    basic_string_t& operator=(const basic_string_t& other) {
        if (this != &other) {
            basic_string_t copy(other);
            *this = std::move(copy);
        }
        return *this;
    }

    basic_string_t& operator=(basic_string_t&& other) noexcept {
        if (this != &other) {
            release_block();
            allocator_ = other.allocator_;
            reset_inline();
            take(other);
        }
        return *this;
    }

    ~basic_string_t() { release_block(); }

    const CharT* data() const noexcept { return data_; }
    CharT* data() noexcept { return data_; }
    const CharT* c_str() const noexcept { return data_; }
    size_type size() const noexcept { return size_; }
    size_type length() const noexcept { return size_; }
    size_type capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    AllocatorObject* allocator() const noexcept { return allocator_.get(); }
    bool is_inline() const noexcept { return data_ == inline_; }

    CharT operator[](size_type index) const noexcept { return data_[index]; }
    CharT& operator[](size_type index) noexcept { return data_[index]; }

    // Makes room for `extra` more units beyond the current size. The old
    // block is released at once unless the caller keeps it for a copy.
    void reserve_extra(size_type extra) {
        CharT* old_block = grow(extra);
        if (old_block) Free(allocator_.get(), old_block);
    }

    basic_string_t& append(const CharT* units, size_type count) {
        if (count == 0) return *this;
        // The source may lie inside our own block: free the old block only
        // after the units have been copied.
        CharT* old_block = grow(count);
        std::memmove(data_ + size_, units, count * sizeof(CharT));
        size_ += count;
        data_[size_] = CharT();
        if (old_block) Free(allocator_.get(), old_block);
        return *this;
    }

    basic_string_t& append(const CharT* text) {
        if (!text) return *this;
        size_type count = 0;
        while (text[count] != CharT()) ++count;
        return append(text, count);
    }

    basic_string_t& append(const basic_string_t& other) { return append(other.data_, other.size_); }

    basic_string_t& operator+=(const basic_string_t& other) { return append(other); }
    basic_string_t& operator+=(const CharT* text) { return append(text); }
    basic_string_t& operator+=(CharT unit) { return append(&unit, 1); }

    // Grows with zero units or shrinks by moving the end.
    void resize(size_type count) {
        if (count > size_) {
            reserve_extra(count - size_);
            std::memset(data_ + size_, 0, (count - size_) * sizeof(CharT));
        }
        size_ = count;
        data_[size_] = CharT();
    }

    void clear() noexcept {
        size_ = 0;
        data_[0] = CharT();
    }

    friend bool operator==(const basic_string_t& a, const basic_string_t& b) noexcept {
        return a.size_ == b.size_ && std::memcmp(a.data_, b.data_, a.size_ * sizeof(CharT)) == 0;
    }
    friend bool operator!=(const basic_string_t& a, const basic_string_t& b) noexcept {
        return !(a == b);
    }

  private:
    // Returns the previous heap block when a new one was taken, so that the
    // caller decides when to release it.
    CharT* grow(size_type extra) {
        if (extra <= capacity_ - size_) return nullptr;
        if (extra >= kMaxSize - size_) {
            throw std::length_error("tarn::basic_string_t::reserve_extra()");
        }
        size_type needed = size_ + extra;
        size_type doubled = capacity_ <= kMaxSize / 2 ? capacity_ * 2 : kMaxSize;
        size_type new_capacity = needed > doubled ? needed : doubled;
        auto* block = static_cast<CharT*>(Allocate(
            allocator_.get(), (static_cast<std::size_t>(new_capacity) + 1) * sizeof(CharT)));
        std::memcpy(block, data_, size_ * sizeof(CharT));
        block[size_] = CharT();
        CharT* old_block = is_inline() ? nullptr : data_;
        data_ = block;
        capacity_ = new_capacity;
        return old_block;
    }

    void release_block() noexcept {
        if (!is_inline()) Free(allocator_.get(), data_);
    }

    void reset_inline() noexcept {
        std::memset(inline_, 0, sizeof(inline_));
        data_ = inline_;
        size_ = 0;
        capacity_ = kInlineCapacity;
    }

    // Takes over other's heap block or copies its inline text; leaves other empty.
    void take(basic_string_t& other) noexcept {
        if (other.is_inline()) {
            std::memcpy(inline_, other.inline_, sizeof(inline_));
            size_ = other.size_;
        } else {
            data_ = other.data_;
            size_ = other.size_;
            capacity_ = other.capacity_;
        }
        other.reset_inline();
    }

    CharT* data_ = inline_;
    size_type size_ = 0;
    size_type capacity_ = kInlineCapacity;
    AllocatorRef allocator_;
    CharT inline_[kInlineUnits];
};

using string_t = basic_string_t<char16_t>;

}  // namespace tarn
