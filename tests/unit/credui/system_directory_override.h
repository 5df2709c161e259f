// Points the code under test at another system directory, and provides
// folders that hold one variant of the credential UI stand-in as credui.dll.
#pragma once

#include <windows.h>

#include <string>

#include "import_patch.h"

namespace credui_testing {

// The system directory as Windows reports it, without a trailing separator.
std::wstring RealSystemDirectory();

// While it lives, GetSystemDirectoryW (as the test executable imports it)
// reports `directory`, with the system's sizing rules.
class SystemDirectoryOverride {
  public:
    explicit SystemDirectoryOverride(const std::wstring& directory);
    ~SystemDirectoryOverride();
    SystemDirectoryOverride(const SystemDirectoryOverride&) = delete;
    SystemDirectoryOverride& operator=(const SystemDirectoryOverride&) = delete;

  private:
    testing_support::ImportPatch patch_;
};

// A fresh temporary folder with a copy of the system directory's `variant`
// (for example credui_nounpack.dll) named credui.dll; removed at the end.
class StandInVariantFolder {
  public:
    explicit StandInVariantFolder(const wchar_t* variant);
    ~StandInVariantFolder();
    StandInVariantFolder(const StandInVariantFolder&) = delete;
    StandInVariantFolder& operator=(const StandInVariantFolder&) = delete;

    const std::wstring& folder() const { return folder_; }
    std::wstring library_path() const { return folder_ + L"\\credui.dll"; }

  private:
    std::wstring folder_;
};

}  // namespace credui_testing
