// Test allocator object: counts what the framework asks of it, can refuse
// every request, fills new blocks with a pattern and overwrites released
// ones, so that reads of uninitialised or released memory show as wrong text.
// Every block ends at a guard page: a write past its end crashes the test.
#pragma once

#include <cstddef>
#include <cstring>
#include <map>
#include <vector>

#include "guarded_block.h"
#include "tarn/allocator.h"

namespace tarn_test {

class CountingAllocator final : public tarn::AllocatorObject {
  public:
    static constexpr unsigned char kNewBlockFill = 0xCD;
    static constexpr unsigned char kFreedBlockFill = 0xEE;

    CountingAllocator() = default;
    CountingAllocator(const CountingAllocator&) = delete;
    CountingAllocator& operator=(const CountingAllocator&) = delete;
    ~CountingAllocator() {
        for (auto& block : live_) testing_support::FreeGuarded(block.first);
    }

    void AddRef() override { ++references_; }
    void Release() override { --references_; }

    void* Allocate(std::size_t bytes) override {
        requests_.push_back(bytes);
        if (failing_ || requests_.size() > request_limit_) return nullptr;
        void* block = testing_support::AllocateGuarded(bytes);
        if (!block) return nullptr;
        std::memset(block, kNewBlockFill, bytes);
        live_[block] = bytes;
        return block;
    }

    void Free(void* block) override {
        auto found = live_.find(block);
        if (found == live_.end()) {
            ++unknown_frees_;
            return;
        }
        // Through volatile, since the compiler drops plain stores into memory that is freed.
        auto* bytes = static_cast<volatile unsigned char*>(block);
        for (std::size_t i = 0; i < found->second; ++i) bytes[i] = kFreedBlockFill;
        testing_support::FreeGuarded(block);
        live_.erase(found);
        ++frees_;
    }

    // Makes every later request fail (the answer is null).
    void set_failing(bool failing) { failing_ = failing; }
    // Refuses every request after the first `limit` ones.
    void set_request_limit(std::size_t limit) { request_limit_ = limit; }

    int references() const { return references_; }
    // Every request, granted or refused, with its byte count.
    const std::vector<std::size_t>& requests() const { return requests_; }
    std::size_t request_count() const { return requests_.size(); }
    std::size_t frees() const { return frees_; }
    std::size_t live_blocks() const { return live_.size(); }
    bool owns(const void* block) const { return live_.count(const_cast<void*>(block)) != 0; }
    // Frees of blocks that this object never handed out, or handed out and took back.
    std::size_t unknown_frees() const { return unknown_frees_; }

  private:
    bool failing_ = false;
    std::size_t request_limit_ = static_cast<std::size_t>(-1);
    int references_ = 0;
    std::vector<std::size_t> requests_;
    std::map<void*, std::size_t> live_;
    std::size_t frees_ = 0;
    std::size_t unknown_frees_ = 0;
};

}  // namespace tarn_test
