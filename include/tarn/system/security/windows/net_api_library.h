// netapi32.dll is not one of the system's known DLLs, so a static import
// would let a copy planted beside the executable load first. It is loaded
// instead by full path from the system directory, for the length of one use.
#pragma once

#include <windows.h>
// The network-management declarations need windows.h first.
#include <lm.h>

namespace tarn {
namespace windows {
namespace security {
namespace detail {

using NetUserGetLocalGroupsFn = decltype(&::NetUserGetLocalGroups);
using NetApiBufferFreeFn = decltype(&::NetApiBufferFree);

class NetApiLibrary {
  public:
    // Loads the library and binds both entries; on failure loaded() is
    // false and error() says why.
    NetApiLibrary() noexcept;
    ~NetApiLibrary();
    NetApiLibrary(const NetApiLibrary&) = delete;
    NetApiLibrary& operator=(const NetApiLibrary&) = delete;

    bool loaded() const noexcept { return get_local_groups_ && buffer_free_; }
    DWORD error() const noexcept { return error_; }
    NetUserGetLocalGroupsFn get_local_groups() const noexcept { return get_local_groups_; }
    NetApiBufferFreeFn buffer_free() const noexcept { return buffer_free_; }

  private:
    HMODULE module_ = nullptr;
    NetUserGetLocalGroupsFn get_local_groups_ = nullptr;
    NetApiBufferFreeFn buffer_free_ = nullptr;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace detail
}  // namespace security
}  // namespace windows
}  // namespace tarn
