#include "launcher/failure_text.h"

#include <charconv>
#include <new>
#include <stdexcept>

#include "tarn/text_conversion.h"

namespace launcher {

namespace {

// Neither std::invalid_argument nor a framework exception, so that it
// reaches the general handler.
class LaunchFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace

void ThrowLaunchFailure(std::uint32_t result) {
    char digits[16];
    auto end = std::to_chars(digits, digits + sizeof(digits), result).ptr;
    std::string text = "Error ";
    text.append(digits, end);
    text += ": failed to start downloader";
    throw LaunchFailure(text);
}

void AppendExceptionText(std::wstring& text, const tarn::Exception& exception) {
    for (const tarn::Exception* current = &exception; current; current = current->GetNested()) {
        try {
            text += tarn::ToWideString(current->GetDisplayText());
        } catch (const std::bad_alloc&) {
            text += L"<Exception display text conversion error>";
        }
        if (current->GetNested()) text += L';';
    }
}

}  // namespace launcher
