// AccountName: an account's name and the domain it belongs to.
#pragma once

#include "tarn/string.h"

namespace tarn {
namespace windows {
namespace security {

struct AccountName {
    // Declared in this order so that the domain is released before the name.
    string_t name;
    string_t domain;
};

}  // namespace security
}  // namespace windows
}  // namespace tarn
