// Reads a framework string as a standard 16-bit string, for comparisons and
// readable failure output, without going through the conversions under test.
#pragma once

#include <string>

#include "tarn/string.h"

namespace tarn_test {

inline std::u16string Units(const tarn::string_t& text) {
    return std::u16string(text.data(), text.size());
}

}  // namespace tarn_test
