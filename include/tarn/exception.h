// The framework's exceptions: a source position, a message, an optional
// nested exception, and for ResultCodeException a result code. what() is
// the class name; GetDisplayText() is the one-line text that users see.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "tarn/result_code.h"
#include "tarn/string.h"

namespace tarn {

class Exception : public std::exception {
  public:
    Exception(const char* source_file, std::int32_t line, const string_t& message = string_t());
    Exception(const Exception& other);
    Exception& operator=(const Exception&) = delete;
    ~Exception() override;

    virtual string_t GetDescription() const;
    [[noreturn]] virtual void Rethrow() const = 0;
    virtual std::unique_ptr<Exception> Clone() const = 0;

    // "<what()> - <description>. At <file>(<line>) "
    string_t GetDisplayText() const;

    const char* GetSourceFile() const noexcept { return source_file_; }
    std::int32_t GetLine() const noexcept { return line_; }
    const string_t& GetMessage() const noexcept { return message_; }
    const Exception* GetNested() const noexcept { return nested_.get(); }
    void SetNested(std::unique_ptr<Exception> nested) noexcept { nested_ = std::move(nested); }

    void AppendToMessage(const string_t& text) { message_.append(text); }

  private:
    const char* source_file_;
    std::int32_t line_;
    string_t message_;
    std::unique_ptr<Exception> nested_;
};

// Supplies Rethrow() and Clone() for the most-derived class Derived.
template <class Derived, class Base>
class ExceptionBase : public Base {
  public:
    using Base::Base;

    [[noreturn]] void Rethrow() const override {
        throw Derived(static_cast<const Derived&>(*this));
    }

    std::unique_ptr<Exception> Clone() const override {
        return std::make_unique<Derived>(static_cast<const Derived&>(*this));
    }
};

class ResultCodeException : public ExceptionBase<ResultCodeException, Exception> {
  public:
    ResultCodeException(const char* source_file, std::int32_t line, ResultCode code,
                        const string_t& message = string_t());

    const char* what() const noexcept override { return "ResultCodeException"; }
    // "<message>: 0x<8 hex digits> (<description>)", without ": " for an empty message.
    string_t GetDescription() const override;
    ResultCode GetResultCode() const noexcept { return code_; }

  private:
    ResultCode code_;
};

class CheckFailedException : public ExceptionBase<CheckFailedException, Exception> {
  public:
    CheckFailedException(const char* source_file, std::int32_t line);

    const char* what() const noexcept override { return "CheckFailedException"; }
};

class CheckResultFailedException
    : public ExceptionBase<CheckResultFailedException, ResultCodeException> {
  public:
    CheckResultFailedException(const char* source_file, std::int32_t line, ResultCode code);

    const char* what() const noexcept override { return "CheckResultFailedException"; }
};

// Appends a value as text to the message of an exception under construction.
void AppendText(Exception& exception, const char* text);
void AppendNumber(Exception& exception, std::uint32_t value);

template <class E>
using EnableIfException = std::enable_if_t<std::is_base_of_v<Exception, std::decay_t<E>>>;

template <class E, class = EnableIfException<E>>
E&& operator<<(E&& exception, const char* text) {
    AppendText(exception, text);
    return std::forward<E>(exception);
}

template <class E, class = EnableIfException<E>>
E&& operator<<(E&& exception, std::uint32_t value) {
    AppendNumber(exception, value);
    return std::forward<E>(exception);
}

}  // namespace tarn
