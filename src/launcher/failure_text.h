// The texts that the launcher shows for failures.
#pragma once

#include <cstdint>
#include <string>

#include "tarn/exception.h"

namespace launcher {

// Throws an exception whose what() is "Error <result>: failed to start downloader".
[[noreturn]] void ThrowLaunchFailure(std::uint32_t result);

// Appends the display text of `exception` and of every exception nested in
// it, outermost first, separated by ";".
void AppendExceptionText(std::wstring& text, const tarn::Exception& exception);

}  // namespace launcher
