// Result codes of the tarn framework: 0 is success, 1 is "no", negative
// values are failures. Windows error codes map into this space.
#pragma once

#include <cstdint>

#include "tarn/string.h"

namespace tarn {

using ResultCode = std::int32_t;

constexpr ResultCode MakeResultCode(std::uint32_t bits) { return static_cast<ResultCode>(bits); }

constexpr bool Failed(ResultCode code) { return code < 0; }
constexpr bool Succeeded(ResultCode code) { return code >= 0; }

// General facility.
constexpr ResultCode kNoError = 0;
constexpr ResultCode kFalse = 1;
constexpr ResultCode kInterfaceNotSupported = MakeResultCode(0x80000001u);
constexpr ResultCode kUnexpected = MakeResultCode(0x80000040u);
constexpr ResultCode kOutOfMemory = MakeResultCode(0x80000041u);
constexpr ResultCode kNotSupported = MakeResultCode(0x80000042u);
constexpr ResultCode kNotImplemented = MakeResultCode(0x80000043u);
constexpr ResultCode kBufferTooSmall = MakeResultCode(0x80000044u);
constexpr ResultCode kAccessDenied = MakeResultCode(0x80000045u);
constexpr ResultCode kInvalidArgument = MakeResultCode(0x80000046u);
constexpr ResultCode kNotMatched = MakeResultCode(0x8000004Au);
constexpr ResultCode kUnspecifiedError = MakeResultCode(0x8000004Bu);
constexpr ResultCode kNotFound = MakeResultCode(0x8000004Cu);
constexpr ResultCode kFound = MakeResultCode(0x8000004Du);
constexpr ResultCode kLocked = MakeResultCode(0x8000004Fu);
constexpr ResultCode kNotLocked = MakeResultCode(0x80000050u);
constexpr ResultCode kOperationCancelled = MakeResultCode(0x80000051u);
constexpr ResultCode kMethodNotFound = MakeResultCode(0x80000057u);
constexpr ResultCode kStackIsEmpty = MakeResultCode(0x80000058u);
constexpr ResultCode kMediaError = MakeResultCode(0x80000059u);
constexpr ResultCode kInvalidSignature = MakeResultCode(0x8000005Au);
constexpr ResultCode kInvalidVersion = MakeResultCode(0x8000005Bu);
constexpr ResultCode kInvalidSize = MakeResultCode(0x8000005Cu);
constexpr ResultCode kInvalidType = MakeResultCode(0x8000005Du);
constexpr ResultCode kInvalidIndex = MakeResultCode(0x8000005Eu);
constexpr ResultCode kOutOfSpace = MakeResultCode(0x80000062u);
constexpr ResultCode kNotReady = MakeResultCode(0x80000063u);
constexpr ResultCode kLessThan = MakeResultCode(0x80000064u);
constexpr ResultCode kMoreThan = MakeResultCode(0x80000065u);
constexpr ResultCode kProhibited = MakeResultCode(0x80000066u);
constexpr ResultCode kAlreadyDone = MakeResultCode(0x80000067u);
constexpr ResultCode kNeedReboot = MakeResultCode(0x80000068u);
constexpr ResultCode kBasesCorrupted = MakeResultCode(0x80000069u);
constexpr ResultCode kInvalidState = MakeResultCode(0x8000006Au);
constexpr ResultCode kNotInitialized = MakeResultCode(0x8000006Bu);
constexpr ResultCode kInsufficientResources = MakeResultCode(0x8000006Cu);
constexpr ResultCode kInvalidResult = MakeResultCode(0x80000071u);
constexpr ResultCode kUnknownException = MakeResultCode(0x80000072u);
constexpr ResultCode kMetaInformationNotFound = MakeResultCode(0x80000076u);
constexpr ResultCode kPropertyNotFound = MakeResultCode(0x80000180u);
constexpr ResultCode kOperationTimeout = MakeResultCode(0x80000221u);

// Platform facility: conditions of the operating system named by the framework.
constexpr ResultCode kUnspecifiedPlatformError = MakeResultCode(0x80010100u);
constexpr ResultCode kInvalidHandle = MakeResultCode(0x80010101u);
constexpr ResultCode kFileNotFound = MakeResultCode(0x80010102u);
constexpr ResultCode kPathNotFound = MakeResultCode(0x80010103u);
constexpr ResultCode kSharingViolation = MakeResultCode(0x80010104u);
constexpr ResultCode kAlreadyExists = MakeResultCode(0x80010105u);
constexpr ResultCode kWaitAbandoned = MakeResultCode(0x80010106u);
constexpr ResultCode kSymbolNotFound = MakeResultCode(0x80010107u);
constexpr ResultCode kSxsIsIncorrect = MakeResultCode(0x80010108u);
constexpr ResultCode kInvalidPathName = MakeResultCode(0x80010109u);
constexpr ResultCode kCannotOpenAnonymousToken = MakeResultCode(0x80010110u);
constexpr ResultCode kPasswordIsInvalid = MakeResultCode(0x80010111u);
constexpr ResultCode kModuleNotFound = MakeResultCode(0x80010112u);
constexpr ResultCode kSystemImageBadSignature = MakeResultCode(0x80010113u);

// The English description of a code; the platform table is chosen by the
// facility bits alone, whatever bit 31 says.
basic_string_t<char16_t> DescribeResultCode(ResultCode code);

// Converts a Windows error code (or a value in HRESULT form) into a result code.
ResultCode ResultCodeFromWindowsError(std::uint32_t error);

// The result of a call that failed with `error`: its converted code, or
// kUnspecifiedPlatformError where that would read as success (a failure that
// left no error behind).
ResultCode FailureFromWindowsError(std::uint32_t error);

}  // namespace tarn
