#include "import_patch.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace testing_support {

namespace {

bool SameDllName(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

template <class T>
T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

}  // namespace

void WriteImportSlot(void** slot, const void* value) {
    DWORD old_protection = 0;
    if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old_protection)) {
        throw std::runtime_error("VirtualProtect failed on an import slot");
    }
    *slot = const_cast<void*>(value);
    VirtualProtect(slot, sizeof(void*), old_protection, &old_protection);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void*));
}

ImportPatch::ImportPatch(const char* dll_name, const char* function_name, const void* replacement,
                         HMODULE module) {
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(module);
    auto* nt = At<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) throw std::runtime_error("module has no imports");

    for (auto* import = At<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
         import->Name != 0; ++import) {
        if (!SameDllName(At<char>(module, import->Name), dll_name)) continue;
        auto* names = At<IMAGE_THUNK_DATA>(
            module, import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk);
        auto* addresses = At<IMAGE_THUNK_DATA>(module, import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* by_name =
                At<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function_name) != 0) {
                continue;
            }
            auto** slot = reinterpret_cast<void**>(&addresses->u1.Function);
            if (!original_) original_ = *slot;
            slots_.push_back(slot);
        }
    }
    if (slots_.empty()) {
        throw std::runtime_error(std::string("import not found: ") + dll_name + "!" +
                                 function_name);
    }
    for (void** slot : slots_) WriteImportSlot(slot, replacement);
}

ImportPatch::~ImportPatch() {
    for (void** slot : slots_) {
        try {
            WriteImportSlot(slot, original_);
        } catch (...) {
        }
    }
}

}  // namespace testing_support
