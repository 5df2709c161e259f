// Owns the credential dialog's answer buffer: erases every byte of it and
// releases it with CoTaskMemFree on every way out, exceptions included.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "launcher/secure_zero.h"

namespace launcher {

class AuthBufferGuard {
  public:
    AuthBufferGuard(void*& buffer, ULONG& size) noexcept : buffer_(buffer), size_(size) {}
    ~AuthBufferGuard() {
        if (!buffer_) return;
        SecureZero(buffer_, size_);
        CoTaskMemFree(buffer_);
        buffer_ = nullptr;
        size_ = 0;
    }
    AuthBufferGuard(const AuthBufferGuard&) = delete;
    AuthBufferGuard& operator=(const AuthBufferGuard&) = delete;

  private:
    void*& buffer_;
    ULONG& size_;
};

}  // namespace launcher
