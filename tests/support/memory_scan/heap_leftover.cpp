// Control for the memory scan: a process that puts a secret on the heap,
// frees it with or without erasing it first, and then has memory_scan search
// its own memory for it.
//
//   heap_leftover <memory_scan.exe> <report file> <needles> erase|keep
//
// <needles> are memory_scan's; the first of them is the secret. Every other copy that
// this program makes is erased before release. Its exit code is memory_scan's,
// or 3 on wrong use or when the scanner cannot be started.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr unsigned char kMask = 0x5A;

void Erase(std::wstring& text) {
    if (!text.empty()) SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

// Writes the secret into `secret`, whose storage is reserved up front so that
// no growth leaves a partial copy behind.
bool Unmask(const wchar_t* hex, std::wstring& secret) {
    const wchar_t* comma = std::wcschr(hex, L',');
    const std::size_t digits = comma ? static_cast<std::size_t>(comma - hex) : std::wcslen(hex);
    if (digits == 0 || digits % 4 != 0) return false;
    secret.reserve(digits / 4);
    for (std::size_t i = 0; i < digits; i += 4) {
        unsigned value[4];
        for (int k = 0; k < 4; ++k) {
            int digit = HexDigit(hex[i + k]);
            if (digit < 0) return false;
            value[k] = static_cast<unsigned>(digit);
        }
        unsigned low = (value[0] << 4 | value[1]) ^ kMask;
        unsigned high = (value[2] << 4 | value[3]) ^ kMask;
        secret.push_back(static_cast<wchar_t>(high << 8 | low));
    }
    return true;
}

int RunScanner(const wchar_t* scanner, const wchar_t* report, const wchar_t* needle) {
    std::wstring command = std::wstring(L"\"") + scanner + L"\" \"" + report + L"\" " + needle +
                           L" " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 3;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 3;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 3;
    const bool erase = std::wcscmp(argv[4], L"erase") == 0;
    if (!erase && std::wcscmp(argv[4], L"keep") != 0) return 3;
    std::wstring secret;
    if (!Unmask(argv[3], secret)) return 3;
    // A block allocated after the copy and kept, so that the heap does not
    // merge the released copy into free space that later allocations reuse.
    std::wstring neighbour;
    {
        // The copy under test: released with or without erasing. The heap
        // writes its free-list links over the first bytes of a released block,
        // so only the copy's later characters stay readable.
        std::wstring copy(secret.begin(), secret.end());
        neighbour.assign(secret.size(), L'-');
        // Keeps the compiler from leaving out the copy as unused.
        asm volatile("" : : "r"(copy.data()) : "memory");
        if (erase) Erase(copy);
    }
    Erase(secret);
    int status = RunScanner(argv[1], argv[2], argv[3]);
    return neighbour.empty() ? 3 : status;
}
