#include "tarn/number_text.h"

#include <charconv>

#include "tarn/text_conversion.h"

namespace tarn {

namespace {

template <class T>
string_t Format(T value, int base) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof(digits), value, base);
    *result.ptr = '\0';
    return ToFrameworkString(digits);
}

}  // namespace

string_t FormatUnsignedDecimal(std::uint32_t value) { return Format(value, 10); }

string_t FormatSignedDecimal(std::int32_t value) { return Format(value, 10); }

string_t FormatHex8(std::uint32_t value) {
    string_t digits = Format(value, 16);
    string_t padded;
    for (auto i = digits.size(); i < 8; ++i) padded += u'0';
    padded.append(digits);
    return padded;
}

}  // namespace tarn
