#include "tarn/system/security/windows/net_api_library.h"

#include "tarn/last_error.h"
#include "tarn/proc_address.h"

namespace tarn {
namespace windows {
namespace security {
namespace detail {

NetApiLibrary::NetApiLibrary() noexcept {
    wchar_t path[MAX_PATH];
    const wchar_t kName[] = L"netapi32.dll";
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    // Room for the directory, a separator and the name.
    if (length == 0 || length + 1 + sizeof(kName) / sizeof(kName[0]) > MAX_PATH) {
        error_ = LastErrorOr(ERROR_PATH_NOT_FOUND);
        return;
    }
    if (path[length - 1] != L'\\' && path[length - 1] != L'/') path[length++] = L'\\';
    for (wchar_t unit : kName) path[length++] = unit;

    module_ = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module_) {
        error_ = LastErrorOr(ERROR_MOD_NOT_FOUND);
        return;
    }
    get_local_groups_ = GetProcAddressAs<NetUserGetLocalGroupsFn>(module_, "NetUserGetLocalGroups");
    buffer_free_ = GetProcAddressAs<NetApiBufferFreeFn>(module_, "NetApiBufferFree");
    if (!loaded()) {
        error_ = LastErrorOr(ERROR_PROC_NOT_FOUND);
        get_local_groups_ = nullptr;
        buffer_free_ = nullptr;
    }
}

NetApiLibrary::~NetApiLibrary() {
    if (module_) FreeLibrary(module_);
}

}  // namespace detail
}  // namespace security
}  // namespace windows
}  // namespace tarn
