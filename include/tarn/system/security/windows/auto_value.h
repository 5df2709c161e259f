// Owners of values that the system hands out.
#pragma once

#include <windows.h>
// The network-management declarations need windows.h first.
#include <lm.h>

#include "tarn/system/security/windows/net_api_library.h"

namespace tarn {
namespace windows {
namespace security {
namespace detail {

// Owns one value; the base template releases nothing.
template <class T>
class AutoValue {
  public:
    AutoValue() : value_() {}
    explicit AutoValue(T value) : value_(value) {}
    AutoValue(const AutoValue&) = delete;
    AutoValue& operator=(const AutoValue&) = delete;
    virtual ~AutoValue() = default;

    T& value() noexcept { return value_; }
    const T& value() const noexcept { return value_; }
    T* address() noexcept { return &value_; }

  protected:
    T value_;
};

// The group list of NetUserGetLocalGroups at level 0, released with
// NetApiBufferFree (as bound from the loaded netapi32.dll).
class AutoLocalGroupUsersInfo0 : public AutoValue<LOCALGROUP_USERS_INFO_0*> {
  public:
    explicit AutoLocalGroupUsersInfo0(NetApiBufferFreeFn buffer_free) noexcept
        : buffer_free_(buffer_free) {}
    ~AutoLocalGroupUsersInfo0() override;

  private:
    NetApiBufferFreeFn buffer_free_;
};

}  // namespace detail
}  // namespace security
}  // namespace windows
}  // namespace tarn
