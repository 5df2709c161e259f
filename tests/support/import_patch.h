// Test support: replaces one imported function of a module (by default the
// test executable) for the length of a scope by patching its import address
// table, and restores the original entry afterwards. Calls that the code
// under test makes through that import reach the replacement; calls through
// GetProcAddress do not.
#pragma once

#include <windows.h>

#include <vector>

namespace testing_support {

class ImportPatch {
  public:
    ImportPatch(const char* dll_name, const char* function_name, const void* replacement,
                HMODULE module = GetModuleHandleW(nullptr));
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // The entry that was in place before the patch.
    const void* original() const noexcept { return original_; }

    template <class Function>
    Function original_as() const noexcept {
        return reinterpret_cast<Function>(const_cast<void*>(original_));
    }

  private:
    std::vector<void*> slots_;
    const void* original_ = nullptr;
};

// Writes one pointer into a possibly read-only and possibly unaligned slot of
// an import table.
void WriteImportSlot(void* slot, const void* value);

}  // namespace testing_support
