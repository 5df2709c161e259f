// Number formatting without iostreams: libstdc++ has no char16_t facets,
// and iostreams would add most of a static executable's size.
#pragma once

#include <cstdint>

#include "tarn/string.h"

namespace tarn {

string_t FormatUnsignedDecimal(std::uint32_t value);
string_t FormatSignedDecimal(std::int32_t value);
// Eight lowercase hexadecimal digits with leading zeros, no prefix.
string_t FormatHex8(std::uint32_t value);

}  // namespace tarn
