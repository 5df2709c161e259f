#include "tarn/exception.h"

#include "tarn/number_text.h"
#include "tarn/text_conversion.h"

namespace tarn {

Exception::Exception(const char* source_file, std::int32_t line, const string_t& message)
    : source_file_(source_file), line_(line), message_(message) {}

// Copies the whole chain: the copy owns clones of every nested exception.
Exception::Exception(const Exception& other)
    : std::exception(other),
      source_file_(other.source_file_),
      line_(other.line_),
      message_(other.message_),
      nested_(other.nested_ ? other.nested_->Clone() : nullptr) {}

Exception::~Exception() { nested_.reset(); }

string_t Exception::GetDescription() const { return message_; }

string_t Exception::GetDisplayText() const {
    string_t text = ToFrameworkString(what());
    text += u" - ";
    text += GetDescription();
    text += u". At ";
    text += ToFrameworkString(source_file_ ? source_file_ : "");
    text += u"(";
    text += FormatSignedDecimal(line_);
    text += u") ";
    return text;
}

// Source position, then code: the order every framework exception takes.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
ResultCodeException::ResultCodeException(const char* source_file, std::int32_t line,
                                         ResultCode code, const string_t& message)
    : ExceptionBase(source_file, line, message), code_(code) {}

string_t ResultCodeException::GetDescription() const {
    string_t text = Exception::GetDescription();
    if (!text.empty()) text += u": ";
    text += u"0x";
    text += FormatHex8(static_cast<std::uint32_t>(code_));
    text += u" (";
    text += DescribeResultCode(code_);
    text += u")";
    return text;
}

CheckFailedException::CheckFailedException(const char* source_file, std::int32_t line)
    : ExceptionBase(source_file, line) {}

CheckResultFailedException::CheckResultFailedException(const char* source_file, std::int32_t line,
                                                       ResultCode code)
    : ExceptionBase(source_file, line, code) {}

void AppendText(Exception& exception, const char* text) {
    exception.AppendToMessage(ToFrameworkString(text));
}

void AppendNumber(Exception& exception, std::uint32_t value) {
    exception.AppendToMessage(FormatUnsignedDecimal(value));
}

}  // namespace tarn
