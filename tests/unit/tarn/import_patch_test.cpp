// The tests' import-table patch on a hand-made module image whose thunk
// arrays sit on 4-byte boundaries, as lld leaves them in 64-bit MinGW
// executables: entries must be copied, not read through typed pointers
// (the undefined-behaviour checks of the clang build trap on the latter).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "import_patch.h"

namespace {

constexpr DWORD kNtHeaders = 0x40;
constexpr DWORD kDescriptors = 0x200;
constexpr DWORD kLookupTable = 0x244;   // 4 more than a multiple of 8
constexpr DWORD kAddressTable = 0x264;  // likewise
constexpr DWORD kDllName = 0x300;
constexpr DWORD kFirstName = 0x320;
constexpr DWORD kSecondName = 0x340;

alignas(16) BYTE g_image[0x400];

template <class T>
void Put(DWORD offset, const T& value) {
    std::memcpy(g_image + offset, &value, sizeof(value));
}

const void* SlotValue(int index) {
    const void* value = nullptr;
    std::memcpy(&value, g_image + kAddressTable + index * sizeof(IMAGE_THUNK_DATA), sizeof(value));
    return value;
}

int g_first_function = 0;
int g_second_function = 0;
int g_replacement = 0;

HMODULE BuildImage() {
    std::memset(g_image, 0, sizeof(g_image));
    IMAGE_DOS_HEADER dos{};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = kNtHeaders;
    Put(0, dos);
    IMAGE_NT_HEADERS nt{};
    nt.Signature = IMAGE_NT_SIGNATURE;
    nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT] = {
        kDescriptors, 2 * sizeof(IMAGE_IMPORT_DESCRIPTOR)};
    Put(kNtHeaders, nt);
    IMAGE_IMPORT_DESCRIPTOR descriptor{};
    descriptor.OriginalFirstThunk = kLookupTable;
    descriptor.Name = kDllName;
    descriptor.FirstThunk = kAddressTable;
    Put(kDescriptors, descriptor);  // the zeroed second one ends the list

    const DWORD names[] = {kFirstName, kSecondName};
    const void* functions[] = {&g_first_function, &g_second_function};
    for (int i = 0; i < 2; ++i) {
        IMAGE_THUNK_DATA lookup{};
        lookup.u1.AddressOfData = names[i];
        Put(kLookupTable + i * sizeof(IMAGE_THUNK_DATA), lookup);
        Put(kAddressTable + i * sizeof(IMAGE_THUNK_DATA), functions[i]);
    }
    std::memcpy(g_image + kDllName, "TEST.dll", 9);
    std::memcpy(g_image + kFirstName + sizeof(WORD), "First", 6);
    std::memcpy(g_image + kSecondName + sizeof(WORD), "Second", 7);
    return reinterpret_cast<HMODULE>(g_image);
}

TEST(ImportPatch, PatchesAndRestoresAnUnalignedImportTable) {
    HMODULE module = BuildImage();
    {
        testing_support::ImportPatch patch("test.dll", "Second", &g_replacement, module);
        EXPECT_EQ(patch.original(), &g_second_function);
        EXPECT_EQ(SlotValue(0), &g_first_function);
        EXPECT_EQ(SlotValue(1), &g_replacement);
    }
    EXPECT_EQ(SlotValue(1), &g_second_function);
}

}  // namespace
