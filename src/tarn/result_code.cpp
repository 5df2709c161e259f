#include "tarn/result_code.h"

namespace tarn {

namespace {

constexpr std::uint32_t kFacilityMask = 0x7FFF0000u;
constexpr std::uint32_t kPlatformFacility = 0x00010000u;

const char16_t* DescribeGeneral(std::uint32_t code) {
    switch (code) {
        case 0x00000000u: return u"No error";
        case 0x00000001u: return u"False";
        case 0x80000001u: return u"Interface not supported";
        case 0x80000040u: return u"Unexpected";
        case 0x80000041u: return u"Out of memory";
        case 0x80000042u: return u"Not supported";
        case 0x80000043u: return u"Not implemented";
        case 0x80000044u: return u"Buffer too small";
        case 0x80000045u: return u"Access denied";
        case 0x80000046u: return u"Invalid argument";
        case 0x8000004Au: return u"Not matched";
        case 0x8000004Bu: return u"Unspecified error";
        case 0x8000004Cu: return u"Not found";
        case 0x8000004Du: return u"Found";
        case 0x8000004Fu: return u"Locked";
        case 0x80000050u: return u"Not locked";
        case 0x80000051u: return u"Operation cancelled";
        case 0x80000057u: return u"Method not found";
        case 0x80000058u: return u"Stack is empty";
        case 0x80000059u: return u"Media error";
        case 0x8000005Au: return u"Invalid signature";
        case 0x8000005Bu: return u"Invalid version";
        case 0x8000005Cu: return u"Invalid size";
        case 0x8000005Du: return u"Invalid type";
        case 0x8000005Eu: return u"Invalid index";
        case 0x80000062u: return u"Out of space";
        case 0x80000063u: return u"Not ready";
        case 0x80000064u: return u"Less than";
        case 0x80000065u: return u"More than";
        case 0x80000066u: return u"Prohibited";
        case 0x80000067u: return u"Already done";
        case 0x80000068u: return u"Need reboot";
        case 0x80000069u: return u"Bases corrupted";
        case 0x8000006Au: return u"Invalid state";
        case 0x8000006Bu: return u"Not initialized";
        case 0x8000006Cu: return u"Insufficient resources";
        case 0x80000071u: return u"Invalid result";
        case 0x80000072u: return u"Unknown exception";
        case 0x80000076u: return u"Meta information not found";
        case 0x80000180u: return u"Property not found";
        case 0x80000221u: return u"Operation timeout";
        default: return u"Unknown result code";
    }
}

const char16_t* DescribePlatform(std::uint32_t code) {
    switch (code) {
        case 0x80010100u: return u"Unspecified platform error";
        case 0x80010101u: return u"Invalid handle";
        case 0x80010102u: return u"File not found";
        case 0x80010103u: return u"Path not found";
        case 0x80010104u: return u"Sharing violation";
        case 0x80010105u: return u"Already exists";
        case 0x80010106u: return u"Wait abandoned";
        case 0x80010107u: return u"Symbol not found";
        case 0x80010108u: return u"Sxs is incorrect";
        case 0x80010109u: return u"Invalid path name";
        case 0x80010110u: return u"Cannot open an anonymous level security token";
        case 0x80010111u: return u"Password is invalid";
        case 0x80010112u: return u"Module not found";
        case 0x80010113u: return u"System image bad signature";
        default: return u"Unknown platform result code";
    }
}

// The Windows errors that have a general or platform code of their own.
bool MapKnownWindowsError(std::uint32_t error, ResultCode& code) {
    switch (error) {
        case 0: code = kNoError; return true;                    // ERROR_SUCCESS
        case 1: code = kNotSupported; return true;               // ERROR_INVALID_FUNCTION
        case 2: code = kFileNotFound; return true;               // ERROR_FILE_NOT_FOUND
        case 3: code = kPathNotFound; return true;               // ERROR_PATH_NOT_FOUND
        case 5: code = kAccessDenied; return true;               // ERROR_ACCESS_DENIED
        case 6: code = kInvalidHandle; return true;              // ERROR_INVALID_HANDLE
        case 8: code = kOutOfMemory; return true;                // ERROR_NOT_ENOUGH_MEMORY
        case 21: code = kNotReady; return true;                  // ERROR_NOT_READY
        case 24: code = kInvalidSize; return true;               // ERROR_BAD_LENGTH
        case 31: code = kUnspecifiedError; return true;          // ERROR_GEN_FAILURE
        case 32:                                                 // ERROR_SHARING_VIOLATION
        case 33: code = kSharingViolation; return true;          // ERROR_LOCK_VIOLATION
        case 50: code = kNotSupported; return true;              // ERROR_NOT_SUPPORTED
        case 53: code = kPathNotFound; return true;              // ERROR_BAD_NETPATH
        case 80: code = kAlreadyExists; return true;             // ERROR_FILE_EXISTS
        case 87: code = kInvalidArgument; return true;           // ERROR_INVALID_PARAMETER
        case 111: code = kBufferTooSmall; return true;           // ERROR_BUFFER_OVERFLOW
        case 112: code = kOutOfSpace; return true;               // ERROR_DISK_FULL
        case 122: code = kBufferTooSmall; return true;           // ERROR_INSUFFICIENT_BUFFER
        case 123: code = kInvalidPathName; return true;          // ERROR_INVALID_NAME
        case 126: code = kModuleNotFound; return true;           // ERROR_MOD_NOT_FOUND
        case 127: code = kSymbolNotFound; return true;           // ERROR_PROC_NOT_FOUND
        case 160: code = kInvalidArgument; return true;          // ERROR_BAD_ARGUMENTS
        case 183: code = kAlreadyExists; return true;            // ERROR_ALREADY_EXISTS
        case 234: code = kBufferTooSmall; return true;           // ERROR_MORE_DATA
        case 267: code = kPathNotFound; return true;             // ERROR_DIRECTORY
        case 637: code = kSystemImageBadSignature; return true;  // ERROR_SYSTEM_IMAGE_BAD_SIGNATURE
        case 1168: code = kNotFound; return true;                // ERROR_NOT_FOUND
        case 1347: code = kCannotOpenAnonymousToken; return true;  // ERROR_CANT_OPEN_ANONYMOUS
        case 1413: code = kInvalidIndex; return true;              // ERROR_INVALID_INDEX
        case 1450: code = kInsufficientResources; return true;     // ERROR_NO_SYSTEM_RESOURCES
        case 1460: code = kOperationTimeout; return true;          // ERROR_TIMEOUT
        case 14001: code = kSxsIsIncorrect; return true;           // ERROR_SXS_CANT_GEN_ACTCTX
        default: return false;
    }
}

ResultCode MapWindowsErrorCode(std::uint32_t error) {
    ResultCode code = kNoError;
    if (MapKnownWindowsError(error, code)) return code;
    return MakeResultCode(error | 0x80070000u);
}

}  // namespace

basic_string_t<char16_t> DescribeResultCode(ResultCode code) {
    auto bits = static_cast<std::uint32_t>(code);
    bool platform = (bits & kFacilityMask) == kPlatformFacility;
    return basic_string_t<char16_t>(platform ? DescribePlatform(bits) : DescribeGeneral(bits));
}

ResultCode ResultCodeFromWindowsError(std::uint32_t error) {
    if (error < 0x10000u) return MapWindowsErrorCode(error);
    if ((error & 0x80000000u) == 0) return kNoError;  // a success HRESULT
    // A failure HRESULT of the Windows-error facility, whatever bits 28 to 30 hold.
    if ((error & 0x0FFF0000u) == 0x00070000u) return MapWindowsErrorCode(error & 0xFFFFu);
    return kUnspecifiedPlatformError;
}

ResultCode FailureFromWindowsError(std::uint32_t error) {
    ResultCode code = ResultCodeFromWindowsError(error);
    return Failed(code) ? code : kUnspecifiedPlatformError;
}

}  // namespace tarn
