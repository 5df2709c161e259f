// PrincipalId: the SID of one security principal as a byte sequence. An
// empty buffer means that no principal is held.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "tarn/allocator.h"
#include "tarn/result_code.h"
#include "tarn/system/security/windows/sid_byte_buffer.h"

namespace tarn {
namespace windows {
namespace security {

class PrincipalId;

// Copies a raw SID into `target`, whose size becomes GetLengthSid of it.
// Gives 0x80000046 for a null or invalid SID, 0x80000041 when memory runs
// out, the mapped error when CopySid fails; after a failure the target holds
// no principal.
ResultCode AssignSid(PrincipalId& target, const void* sid);

class PrincipalId {
  public:
    PrincipalId() noexcept = default;
    explicit PrincipalId(AllocatorObject* allocator) noexcept : bytes_(allocator) {}
    // Throws CheckResultFailedException when the SID can't be copied.
    explicit PrincipalId(const void* sid);

    PrincipalId(const PrincipalId& other) = default;
    PrincipalId(PrincipalId&& other) noexcept = default;
    PrincipalId& operator=(const PrincipalId& other) = default;
    PrincipalId& operator=(PrincipalId&& other) noexcept = default;

    bool empty() const noexcept { return bytes_.empty(); }
    std::size_t size() const noexcept { return bytes_.size(); }
    const std::uint8_t* data() const noexcept { return bytes_.data(); }

    // The SID as the Windows API takes it; null when no principal is held.
    // The API's SID parameters are not const, but these calls only read.
    PSID sid() const noexcept { return empty() ? nullptr : const_cast<std::uint8_t*>(data()); }

    detail::SidByteBuffer& bytes() noexcept { return bytes_; }
    const detail::SidByteBuffer& bytes() const noexcept { return bytes_; }

    void swap(PrincipalId& other) noexcept { bytes_.swap(other.bytes_); }

  private:
    detail::SidByteBuffer bytes_;
};

// 0 if both hold the same SID, 1 if not, 0x80000046 if either is empty.
ResultCode CompareSid(const PrincipalId& a, const PrincipalId& b);

}  // namespace security
}  // namespace windows
}  // namespace tarn
