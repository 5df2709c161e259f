#include "tarn/text_conversion.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <typeinfo>

namespace tarn {

namespace {

class BadCast : public std::bad_cast {
  public:
    const char* what() const noexcept override { return "bad cast"; }
};

constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;

// Decodes one character at `text`; a zero byte is one U+0000 of one byte.
// Returns the bytes consumed, or 0 when the input is invalid or incomplete.
std::size_t DecodeOne(const char* text, std::size_t remaining, std::uint32_t& value) {
    if (*text == '\0') {
        value = 0;
        return 1;
    }
    std::mbstate_t state{};
    wchar_t unit = 0;
    std::size_t used = std::mbrtowc(&unit, text, remaining, &state);
    if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) return 0;
    if (used == 0) used = 1;
    value = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(unit));
    return used;
}

// A text that would not fit a framework string at all is reported like any
// other growth that cannot be had; the check also keeps start + units from
// being cut to 32 bits.
bool FitsFrameworkString(std::size_t start, std::size_t units) {
    return start < string_t::kMaxSize && units < string_t::kMaxSize - start;
}

// Builds the new text in a copy of the target resized to `size` (growing
// pads with zero units) and puts it in place only once `fill` has written it,
// so that a failure leaves the target unchanged. No memory is reported as
// such.
template <class Text, class Fill>
ResultCode ReplaceResized(Text& target, std::size_t size, Fill fill) {
    try {
        Text result(target);
        result.resize(static_cast<typename Text::size_type>(size));
        fill(result);
        target = std::move(result);
    } catch (const std::bad_alloc&) {
        // Every caller checks the size against the string's limit first, so
        // running out of memory is the only way the resize can fail.
        return kOutOfMemory;
    }
    return kNoError;
}

// Resizes the target to start + length and copies the units as they are.
template <class Unit>
ResultCode CopyUnits(const Unit* text, std::size_t length, string_t& target, std::size_t start) {
    if (!FitsFrameworkString(start, length)) return kOutOfMemory;
    return ReplaceResized(target, start + length, [&](string_t& result) {
        for (std::size_t i = 0; i < length; ++i) {
            result[static_cast<string_t::size_type>(start + i)] = static_cast<char16_t>(text[i]);
        }
    });
}

void ThrowIfFailed(ResultCode code) {
    if (Failed(code)) ThrowConversionFailure(code);
}

}  // namespace

ResultCode ConvertNarrowText(const char* text, std::size_t length, string_t& target,
                             std::size_t start) {
    // First pass: validate and count the units.
    std::size_t units = 0;
    for (std::size_t at = 0; at < length;) {
        std::uint32_t value = 0;
        std::size_t used = DecodeOne(text + at, length - at, value);
        if (used == 0 || value > kMaxCodePoint) return kInvalidArgument;
        units += value > 0xFFFF ? 2 : 1;
        at += used;
    }
    if (!FitsFrameworkString(start, units)) return kOutOfMemory;
    // Second pass: write the units.
    return ReplaceResized(target, start + units, [&](string_t& result) {
        auto out = static_cast<string_t::size_type>(start);
        for (std::size_t at = 0; at < length;) {
            std::uint32_t value = 0;
            at += DecodeOne(text + at, length - at, value);
            if (value > 0xFFFF) {
                value -= 0x10000;
                result[out++] = static_cast<char16_t>(0xD800 + (value >> 10));
                result[out++] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
            } else {
                result[out++] = static_cast<char16_t>(value);
            }
        }
    });
}

ResultCode ConvertWideText(const wchar_t* text, std::size_t length, string_t& target,
                           std::size_t start) {
    return CopyUnits(text, length, target, start);
}

ResultCode ConvertToWideString(const string_t& source, std::wstring& target, std::size_t start) {
    // Checked before adding, so that a start near the top of size_t cannot
    // wrap round to a small size and send the copy past the end.
    if (start > target.max_size() || source.size() > target.max_size() - start) return kOutOfMemory;
    return ReplaceResized(target, start + source.size(), [&](std::wstring& result) {
        std::copy(source.data(), source.data() + source.size(), result.data() + start);
    });
}

void ThrowConversionFailure(ResultCode code) {
    if (code == kOutOfMemory) ThrowBadAllocation();
    throw BadCast();
}

string_t ToFrameworkString(const char* text) {
    string_t result;
    if (!text) return result;
    ThrowIfFailed(ConvertNarrowText(text, std::strlen(text), result, 0));
    return result;
}

string_t ToFrameworkString(const std::string& text) {
    string_t result;
    ThrowIfFailed(ConvertNarrowText(text.data(), text.size(), result, 0));
    return result;
}

string_t ToFrameworkString(const std::wstring& text) {
    string_t result;
    ThrowIfFailed(ConvertWideText(text.data(), text.size(), result, 0));
    return result;
}

string_t ToFrameworkString(const std::u16string& text) {
    string_t result;
    ThrowIfFailed(CopyUnits(text.data(), text.size(), result, 0));
    return result;
}

std::wstring ToWideString(const string_t& text) {
    std::wstring result;
    ThrowIfFailed(ConvertToWideString(text, result, 0));
    return result;
}

}  // namespace tarn
