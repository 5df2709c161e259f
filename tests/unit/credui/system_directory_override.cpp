#include "system_directory_override.h"

#include <stdexcept>

#include "stand_in_session.h"

namespace credui_testing {

namespace {

std::wstring g_directory;

UINT WINAPI ReportedSystemDirectory(LPWSTR buffer, UINT size) {
    const UINT length = static_cast<UINT>(g_directory.size());
    if (!buffer || size <= length) return length + 1;
    g_directory.copy(buffer, length);
    buffer[length] = L'\0';
    return length;
}

}  // namespace

std::wstring RealSystemDirectory() {
    wchar_t directory[MAX_PATH + 1] = {};
    UINT length = GetSystemDirectoryW(directory, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("no system directory");
    return std::wstring(directory, length);
}

SystemDirectoryOverride::SystemDirectoryOverride(const std::wstring& directory)
    : patch_("KERNEL32.dll", "GetSystemDirectoryW",
             reinterpret_cast<const void*>(&ReportedSystemDirectory)) {
    g_directory = directory;
}

SystemDirectoryOverride::~SystemDirectoryOverride() { g_directory.clear(); }

StandInVariantFolder::StandInVariantFolder(const wchar_t* variant) {
    folder_ = TempFilePath(L"sys");
    DeleteFileW(folder_.c_str());
    if (!CreateDirectoryW(folder_.c_str(), nullptr)) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    std::wstring source = RealSystemDirectory() + L"\\" + variant;
    if (!CopyFileW(source.c_str(), library_path().c_str(), FALSE)) {
        RemoveDirectoryW(folder_.c_str());
        throw std::runtime_error("stand-in variant missing from the system directory");
    }
}

StandInVariantFolder::~StandInVariantFolder() {
    DeleteFileW(library_path().c_str());
    RemoveDirectoryW(folder_.c_str());
}

}  // namespace credui_testing
