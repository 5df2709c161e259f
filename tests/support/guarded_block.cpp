#include "guarded_block.h"

#include <windows.h>

#include <cstdint>

namespace testing_support {

namespace {

std::size_t PageSize() noexcept {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize;
}

}  // namespace

void* AllocateGuarded(std::size_t bytes) noexcept {
    const std::size_t page = PageSize();
    const std::size_t data_pages = bytes == 0 ? 1 : (bytes + page - 1) / page;
    if (data_pages > (SIZE_MAX / page) - 1) return nullptr;
    auto* base = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, (data_pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base) return nullptr;
    std::uint8_t* guard = base + data_pages * page;
    DWORD old_protection = 0;
    if (!VirtualProtect(guard, page, PAGE_NOACCESS, &old_protection)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    return guard - bytes;
}

void FreeGuarded(void* block) noexcept {
    if (!block) return;
    // The block starts within its first page, since it ends where that page's
    // run of whole pages ends.
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    VirtualFree(reinterpret_cast<void*>(address - address % PageSize()), 0, MEM_RELEASE);
}

}  // namespace testing_support
