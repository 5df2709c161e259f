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

// Import tables need not be aligned to their entries' size: lld, linking
// MinGW's import libraries, leaves 64-bit thunk arrays on 4-byte boundaries.
// Their entries are therefore copied, never read through a typed pointer.
template <class T>
T Read(const BYTE* place) {
    T value;
    std::memcpy(&value, place, sizeof(value));
    return value;
}

}  // namespace

void WriteImportSlot(void* slot, const void* value) {
    DWORD old_protection = 0;
    if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old_protection)) {
        throw std::runtime_error("VirtualProtect failed on an import slot");
    }
    std::memcpy(slot, &value, sizeof(value));
    VirtualProtect(slot, sizeof(void*), old_protection, &old_protection);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void*));
}

ImportPatch::ImportPatch(const char* dll_name, const char* function_name, const void* replacement,
                         HMODULE module) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = At<const IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) throw std::runtime_error("module has no imports");

    for (BYTE* entry = At<BYTE>(module, directory.VirtualAddress);;
         entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto import = Read<IMAGE_IMPORT_DESCRIPTOR>(entry);
        if (import.Name == 0) break;
        if (!SameDllName(At<char>(module, import.Name), dll_name)) continue;
        BYTE* names = At<BYTE>(
            module, import.OriginalFirstThunk ? import.OriginalFirstThunk : import.FirstThunk);
        BYTE* addresses = At<BYTE>(module, import.FirstThunk);
        for (;; names += sizeof(IMAGE_THUNK_DATA), addresses += sizeof(IMAGE_THUNK_DATA)) {
            const auto name = Read<IMAGE_THUNK_DATA>(names);
            if (name.u1.AddressOfData == 0) break;
            if (IMAGE_SNAP_BY_ORDINAL(name.u1.Ordinal)) continue;
            // The hint comes first, then the name's characters (no alignment needed).
            const char* imported =
                At<char>(module, static_cast<DWORD>(name.u1.AddressOfData)) + sizeof(WORD);
            if (std::strcmp(imported, function_name) != 0) continue;
            if (!original_) original_ = Read<const void*>(addresses);
            slots_.push_back(addresses);
        }
    }
    if (slots_.empty()) {
        throw std::runtime_error(std::string("import not found: ") + dll_name + "!" +
                                 function_name);
    }
    for (void* slot : slots_) WriteImportSlot(slot, replacement);
}

ImportPatch::~ImportPatch() {
    for (void* slot : slots_) {
        try {
            WriteImportSlot(slot, original_);
        } catch (...) {
        }
    }
}

}  // namespace testing_support
