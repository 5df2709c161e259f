// Test helper: searches the committed, readable memory of another process for
// UTF-16 texts, so that tests can tell whether a secret is still anywhere in it.
//
//   memory_scan <report file> <needles> <target>
//
// <needles> is a comma-separated list; each needle is the hex of its UTF-16LE
// bytes, every byte XORed with 0x5A, so that no command line holds a plain
// copy of what is searched for. <target> is a decimal process id, "parent"
// for the process that started this one, or "grandparent" for the one that
// started that.
//
// Appends one JSON line to the report file (UTF-8):
//   {"target": pid, "regions": n, "bytes": n, "unreadable_regions": n,
//    "hits": [count per needle],
//    "places": [[{"address", "region_base", "region_type", "module"}, ...]
//               per needle, at most 16 each],
//    "error": null or the failed call}
// region_type is "image", "mapped" or "private"; module is the file of an
// image region (empty otherwise). Exit code 0 when the scan ran, 2 otherwise.
// The other system headers need windows.h first.
// clang-format off
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "json_record.h"
#include "parent_process.h"

namespace {

using testing_support::JsonString;

constexpr unsigned char kMask = 0x5A;
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::size_t kPlacesPerNeedle = 16;

struct Place {
    std::uintptr_t address;
    std::uintptr_t region_base;
    DWORD region_type;
    std::wstring module;
};

struct Needle {
    std::vector<unsigned char> bytes;
    unsigned long long hits = 0;
    std::vector<Place> places;
};

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool DecodeNeedles(const std::wstring& text, std::vector<Needle>& needles) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(L',', start);
        std::wstring hex = text.substr(start, end == std::wstring::npos ? end : end - start);
        if (hex.empty() || hex.size() % 4 != 0) return false;
        Needle needle;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            int high = HexDigit(hex[i]);
            int low = HexDigit(hex[i + 1]);
            if (high < 0 || low < 0) return false;
            needle.bytes.push_back(static_cast<unsigned char>((high << 4 | low) ^ kMask));
        }
        needles.push_back(needle);
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

bool IsReadable(const MEMORY_BASIC_INFORMATION& region) {
    if (region.State != MEM_COMMIT) return false;
    if (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
    return (region.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

std::wstring ModuleOf(HANDLE process, const MEMORY_BASIC_INFORMATION& region) {
    if (region.Type != MEM_IMAGE) return std::wstring();
    wchar_t name[MAX_PATH] = {};
    DWORD length = GetMappedFileNameW(process, region.BaseAddress, name, MAX_PATH);
    return std::wstring(name, length);
}

const char* RegionType(DWORD type) {
    switch (type) {
        case MEM_IMAGE: return "image";
        case MEM_MAPPED: return "mapped";
        default: return "private";
    }
}

// Counts the needles in [data, data + size); matches must start before `limit`
// so that the overlap carried into the next chunk is not counted twice.
void Search(HANDLE process, const MEMORY_BASIC_INFORMATION& region, std::uintptr_t data_address,
            const unsigned char* data, std::size_t size, std::size_t limit,
            std::vector<Needle>& needles) {
    for (Needle& needle : needles) {
        const std::size_t length = needle.bytes.size();
        if (size < length) continue;
        for (std::size_t i = 0; i + length <= size && i < limit; ++i) {
            if (data[i] != needle.bytes[0] ||
                std::memcmp(data + i, needle.bytes.data(), length) != 0) {
                continue;
            }
            ++needle.hits;
            if (needle.places.size() < kPlacesPerNeedle) {
                needle.places.push_back({data_address + i,
                                         reinterpret_cast<std::uintptr_t>(region.BaseAddress),
                                         region.Type, ModuleOf(process, region)});
            }
        }
    }
}

std::string Number(unsigned long long value) { return std::to_string(value); }

std::string Report(DWORD target, unsigned long long regions, unsigned long long bytes,
                   unsigned long long unreadable, const std::vector<Needle>& needles,
                   const char* error) {
    std::string hits = "[";
    std::string places = "[";
    for (std::size_t n = 0; n < needles.size(); ++n) {
        if (n > 0) {
            hits += ",";
            places += ",";
        }
        hits += Number(needles[n].hits);
        places += "[";
        for (std::size_t p = 0; p < needles[n].places.size(); ++p) {
            const Place& place = needles[n].places[p];
            if (p > 0) places += ",";
            places += "{\"address\":" + Number(place.address) +
                      ",\"region_base\":" + Number(place.region_base) + ",\"region_type\":\"" +
                      RegionType(place.region_type) + "\",\"module\":" + JsonString(place.module) +
                      "}";
        }
        places += "]";
    }
    std::string error_text = error ? std::string("\"") + error + "\"" : std::string("null");
    return "{\"target\":" + Number(target) + ",\"regions\":" + Number(regions) +
           ",\"bytes\":" + Number(bytes) + ",\"unreadable_regions\":" + Number(unreadable) +
           ",\"hits\":" + hits + "],\"places\":" + places + "],\"error\":" + error_text + "}";
}

bool AppendLine(const wchar_t* path, const std::string& line) {
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string text = line + "\n";
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

int Scan(const wchar_t* report_path, DWORD target, std::vector<Needle>& needles) {
    unsigned long long regions = 0;
    unsigned long long bytes = 0;
    unsigned long long unreadable = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, target);
    if (!process) {
        AppendLine(report_path, Report(target, 0, 0, 0, needles, "OpenProcess"));
        return 2;
    }
    std::size_t longest = 0;
    for (const Needle& needle : needles) longest = std::max(longest, needle.bytes.size());
    std::vector<unsigned char> buffer(kChunkBytes + longest);

    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    auto address = reinterpret_cast<std::uintptr_t>(system.lpMinimumApplicationAddress);
    const auto end = reinterpret_cast<std::uintptr_t>(system.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region{};
    while (address < end && VirtualQueryEx(process, reinterpret_cast<void*>(address), &region,
                                           sizeof(region)) == sizeof(region)) {
        const auto base = reinterpret_cast<std::uintptr_t>(region.BaseAddress);
        const std::uintptr_t next = base + region.RegionSize;
        if (next <= address) break;
        if (IsReadable(region)) {
            ++regions;
            bool failed = false;
            // Chunks overlap by the longest needle's size less one byte.
            for (std::uintptr_t at = base; at < next && !failed; at += kChunkBytes) {
                std::size_t want = static_cast<std::size_t>(
                    std::min<std::uintptr_t>(next - at, kChunkBytes + longest - 1));
                SIZE_T read = 0;
                if (!ReadProcessMemory(process, reinterpret_cast<void*>(at), buffer.data(), want,
                                       &read) ||
                    read != want) {
                    failed = true;
                    break;
                }
                bytes += std::min<std::uintptr_t>(next - at, kChunkBytes);
                Search(process, region, at, buffer.data(), want, kChunkBytes, needles);
            }
            if (failed) ++unreadable;
        }
        address = next;
    }
    CloseHandle(process);
    const char* error = regions == 0 ? "VirtualQueryEx" : nullptr;
    if (!AppendLine(report_path, Report(target, regions, bytes, unreadable, needles, error))) {
        return 2;
    }
    return error ? 2 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<Needle> needles;
    if (argc != 4 || !DecodeNeedles(argv[2], needles)) {
        std::fwprintf(stderr,
                      L"usage: memory_scan <report file> <needles> <pid|parent|grandparent>\n");
        return 2;
    }
    DWORD target = 0;
    if (std::wcscmp(argv[3], L"parent") == 0) {
        target = testing_support::ParentProcessId();
    } else if (std::wcscmp(argv[3], L"grandparent") == 0) {
        DWORD parent = testing_support::ParentProcessId();
        target = parent ? testing_support::ParentProcessId(parent) : 0;
    } else {
        target = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
    }
    if (target == 0) {
        AppendLine(argv[1], Report(0, 0, 0, 0, needles, "target"));
        return 2;
    }
    return Scan(argv[1], target, needles);
}
