#include "tarn/system/security/windows/auto_value.h"

namespace tarn {
namespace windows {
namespace security {
namespace detail {

AutoLocalGroupUsersInfo0::~AutoLocalGroupUsersInfo0() {
    if (value_ && buffer_free_) buffer_free_(value_);
}

}  // namespace detail
}  // namespace security
}  // namespace windows
}  // namespace tarn
