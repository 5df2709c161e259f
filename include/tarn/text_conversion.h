// Conversions between narrow text, the standard wide strings and the
// framework string. Each comes as a core that reports a result code and
// leaves the target unchanged on failure, and as a throwing form.
#pragma once

#include <cstddef>
#include <string>

#include "tarn/result_code.h"
#include "tarn/string.h"

namespace tarn {

// Narrow text (decoded with mbrtowc in the current locale) written into
// `target` from index `start` on; the target is resized to fit exactly, and a
// start past its end pads it with zero units.
ResultCode ConvertNarrowText(const char* text, std::size_t length, string_t& target,
                             std::size_t start);

// Unit-for-unit copies.
ResultCode ConvertWideText(const wchar_t* text, std::size_t length, string_t& target,
                           std::size_t start);
ResultCode ConvertToWideString(const string_t& source, std::wstring& target, std::size_t start);

// Throwing forms: std::bad_alloc ("bad allocation") when memory runs out,
// std::bad_cast for any other failure.
string_t ToFrameworkString(const char* text);
string_t ToFrameworkString(const std::string& text);
string_t ToFrameworkString(const std::wstring& text);
string_t ToFrameworkString(const std::u16string& text);
std::wstring ToWideString(const string_t& text);

// Throws the exception that stands for a failed conversion core.
[[noreturn]] void ThrowConversionFailure(ResultCode code);

}  // namespace tarn
