// Scripted stand-in for the system credential UI library (credui.dll), for tests only.
//
// Environment
//   STAND_IN_CREDUI_SCRIPT  UTF-8 file of answers, one answer per prompt.
//   STAND_IN_CREDUI_LOG     UTF-8 file that every call and load is appended to.
//   STAND_IN_LOGON_DLL      optional DLL path: the first prompt of a process loads it with
//                           LoadLibraryW and calls its export InstallLogonStandIn
//                           (void WINAPI, no arguments) if there is one. It is never freed.
//   STAND_IN_CREDUI_PROMPT_HOOK optional command line: every prompt first runs it with " <pid>"
//                           (this process's id) appended, waits for it and logs a hook event.
//
// Passwords: every UTF-16 copy of a script answer that this library makes is erased before its
// memory is released, so that scans of the host process find only the host's own copies.
//
// Script
//   Blank lines and lines starting with '#' are skipped. Each prompt takes the first answer
//   line and removes it, with the skipped lines before it, from the file, so the file always
//   holds the answers still to come. No script, or no answer left: the prompt answers "cancel"
//   (logged with kind=exhausted). The command runs up to the first space or tab; the rest of
//   the line is split at tabs (fields may be empty and hold any UTF-8 except tab):
//     cancel                           returns 1223, no answer buffer
//     cancel-with-buffer[ U\tD\tP]     returns 1223 and an answer buffer holding U, D, P
//     fail R E                         sets last error E and returns R, no answer buffer
//     fail-with-buffer R E             the same with an answer buffer
//     credentials U\tD\tP[\tOPTION]... returns 0, last error 0, and an answer buffer of U, D, P
//   Numbers are decimal or 0x-hex. Options of an answer buffer act when it is unpacked:
//     counts=A,B,C      the sizing call reports these counts instead of length + 1
//     sizing-error=E    the last error that the sizing call leaves (default 122)
//     unpack-error=E    the second call writes nothing and fails with last error E (may be 0)
//   The answer buffer comes from CoTaskMemAlloc; it starts with a non-zero magic number.
//
// Unpacking (CredUnPackAuthenticationBufferW)
//   All three string buffers null: sizing call. Writes the counts (length + 1), returns FALSE
//   with last error 122. Otherwise each buffer must hold length + 1 characters: the call
//   copies the strings with their terminators, writes the counts (length + 1) and returns TRUE
//   with the last error as it found it; a buffer that is too small fails with 122 and the
//   needed counts. An empty field whose count is 0 is left alone (no terminator written).
//   A buffer that is not one of ours fails with 87.
//
// Log: one event per line, "\n"-terminated: the event name, then tab-separated key=value fields,
// split at the first '='. Numbers, pointers and handles are unsigned decimal (0 is null). Texts
// are UTF-8 with "\\", "\t", "\n" and "\r" escaped by a backslash; each text field "x" comes
// with "x_null" (1 when the pointer was null, the text then empty).
//   attach     pid module
//   detach     pid process_exit
//   prompt     pid counter info cb_size hwnd_parent hwnd_parent_pid message_null message
//              caption_null caption banner auth_error package_ptr package_in in_buffer in_size
//              out_buffer_ptr out_size_ptr save_ptr save flags
//              (counter: QueryPerformanceCounter on entry; the fields after info only if
//              info != 0)
//   logon_dll  pid path handle error install             (install: 1 when the export was called)
//   answer     pid kind return last_error buffer size    (kind: the command, or exhausted)
//   unpack     pid phase(sizing|fill) flags buffer size user_buffer user_count domain_buffer
//              domain_count password_buffer password_count result last_error user_count_out
//              domain_count_out password_count_out       (counts: the values in and out)
//   script_error pid text                                (an answer line that was not understood)
//   hook       pid error exit_code                       (error: of CreateProcessW, 0 if started)
// This library defines and exports the credential UI entries instead of
// importing them; the header's declarations say so too.
#define CREDUIAPI __declspec(dllexport)

// windows.h has to come first.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <wincred.h>
// clang-format on

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "text_files.h"

namespace {

std::wstring ReadVariable(const wchar_t* name) {
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring value(needed, L'\0');
    DWORD written = GetEnvironmentVariableW(name, &value[0], needed);
    if (written >= needed) return std::wstring();
    value.resize(written);
    return value;
}

using testing_support::FromUtf8;
using testing_support::ToUtf8;

std::string Escape(const std::string& text) {
    std::string result;
    for (char c : text) {
        switch (c) {
            case '\\': result += "\\\\"; break;
            case '\t': result += "\\t"; break;
            case '\n': result += "\\n"; break;
            case '\r': result += "\\r"; break;
            default: result += c;
        }
    }
    return result;
}

void Erase(std::wstring& text) {
    if (!text.empty()) SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
}

void Erase(std::vector<std::wstring>& texts) {
    for (std::wstring& text : texts) Erase(text);
}

// Erases a text or a list of texts when the scope ends.
template <typename Texts>
class EraseOnExit {
  public:
    explicit EraseOnExit(Texts& texts) : texts_(texts) {}
    ~EraseOnExit() { Erase(texts_); }
    EraseOnExit(const EraseOnExit&) = delete;
    EraseOnExit& operator=(const EraseOnExit&) = delete;

  private:
    Texts& texts_;
};

// One log line; written in a single append so that readers never see half an event.
class Event {
  public:
    explicit Event(const char* name) : line_(name) { Add("pid", GetCurrentProcessId()); }

    Event& Add(const char* key, std::uint64_t value) {
        return Field(key, std::to_string(static_cast<unsigned long long>(value)));
    }
    Event& Add(const char* key, const void* pointer) {
        return Add(key, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer)));
    }
    Event& AddText(const char* key, const wchar_t* text) {
        Add((std::string(key) + "_null").c_str(), static_cast<std::uint64_t>(text == nullptr));
        return Field(key, Escape(ToUtf8(text ? std::wstring(text) : std::wstring())));
    }
    Event& AddText(const char* key, const std::wstring& text) {
        return Field(key, Escape(ToUtf8(text)));
    }

    void Write() const {
        std::wstring path = ReadVariable(L"STAND_IN_CREDUI_LOG");
        if (path.empty()) return;
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        std::string line = line_ + "\n";
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }

  private:
    Event& Field(const char* key, const std::string& value) {
        line_ += '\t';
        line_ += key;
        line_ += '=';
        line_ += value;
        return *this;
    }

    std::string line_;
};

// What a prompt answers.
struct Answer {
    std::string kind = "exhausted";
    DWORD result = ERROR_CANCELLED;
    DWORD last_error = ERROR_SUCCESS;
    bool with_buffer = false;
    std::wstring user = L"stand-in-user";
    std::wstring domain = L"STAND-IN";
    std::wstring password = L"stand-in-password";
    bool has_counts = false;
    DWORD counts[3] = {0, 0, 0};
    DWORD sizing_error = ERROR_INSUFFICIENT_BUFFER;
    bool unpack_fails = false;
    DWORD unpack_error = ERROR_SUCCESS;

    Answer() = default;
    Answer(const Answer& other) = default;
    Answer& operator=(const Answer& other) = default;
    ~Answer() { Erase(password); }
};

// The answer buffer: this header, then user name, domain and password without terminators.
struct PackedHeader {
    DWORD magic;
    DWORD lengths[3];
    DWORD has_counts;
    DWORD counts[3];
    DWORD sizing_error;
    DWORD unpack_fails;
    DWORD unpack_error;
};
constexpr DWORD kMagic = 0x52435453;  // "STCR"

DWORD ParseNumber(const std::wstring& text, bool& ok) {
    wchar_t* end = nullptr;
    unsigned long value = std::wcstoul(text.c_str(), &end, 0);
    ok = ok && !text.empty() && end && *end == L'\0';
    return static_cast<DWORD>(value);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::wstring::npos ? end : end - start));
        if (end == std::wstring::npos) return parts;
        start = end + 1;
    }
}

bool ParseOption(const std::wstring& option, Answer& answer) {
    std::size_t equals = option.find(L'=');
    if (equals == std::wstring::npos) return false;
    std::wstring key = option.substr(0, equals);
    std::wstring value = option.substr(equals + 1);
    bool ok = true;
    if (key == L"counts") {
        std::vector<std::wstring> parts = Split(value, L',');
        if (parts.size() != 3) return false;
        for (int i = 0; i < 3; ++i) answer.counts[i] = ParseNumber(parts[i], ok);
        answer.has_counts = true;
    } else if (key == L"sizing-error") {
        answer.sizing_error = ParseNumber(value, ok);
    } else if (key == L"unpack-error") {
        answer.unpack_fails = true;
        answer.unpack_error = ParseNumber(value, ok);
    } else {
        return false;
    }
    return ok;
}

bool ParseAnswer(const std::wstring& line, Answer& answer) {
    std::size_t cut = line.find_first_of(L" \t");
    std::wstring command = line.substr(0, cut);
    std::wstring rest = cut == std::wstring::npos ? std::wstring() : line.substr(cut + 1);
    EraseOnExit<std::wstring> erase_rest(rest);
    answer.kind = ToUtf8(command);
    bool ok = true;
    if (command == L"cancel" && rest.empty()) {
        answer.result = ERROR_CANCELLED;
    } else if (command == L"cancel-with-buffer") {
        answer.result = ERROR_CANCELLED;
        answer.with_buffer = true;
        if (!rest.empty()) {
            std::vector<std::wstring> fields = Split(rest, L'\t');
            EraseOnExit<std::vector<std::wstring>> erase_fields(fields);
            if (fields.size() != 3) return false;
            answer.user = fields[0];
            answer.domain = fields[1];
            answer.password = fields[2];
        }
    } else if (command == L"fail" || command == L"fail-with-buffer") {
        std::vector<std::wstring> fields;
        for (const std::wstring& field : Split(rest, L' ')) {
            for (const std::wstring& part : Split(field, L'\t')) {
                if (!part.empty()) fields.push_back(part);
            }
        }
        if (fields.size() != 2) return false;
        answer.result = ParseNumber(fields[0], ok);
        answer.last_error = ParseNumber(fields[1], ok);
        answer.with_buffer = command == L"fail-with-buffer";
    } else if (command == L"credentials") {
        std::vector<std::wstring> fields = Split(rest, L'\t');
        EraseOnExit<std::vector<std::wstring>> erase_fields(fields);
        if (fields.size() < 3) return false;
        answer.result = ERROR_SUCCESS;
        answer.with_buffer = true;
        answer.user = fields[0];
        answer.domain = fields[1];
        answer.password = fields[2];
        for (std::size_t i = 3; i < fields.size(); ++i) ok = ok && ParseOption(fields[i], answer);
    } else {
        return false;
    }
    return ok;
}

// Takes the first answer line out of the script file.
bool TakeAnswerLine(std::wstring& line) {
    std::wstring path = ReadVariable(L"STAND_IN_CREDUI_SCRIPT");
    if (path.empty()) return false;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string content;
    testing_support::ReadRemainingBytes(file, content);
    std::size_t position = 0;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) position = 3;
    bool found = false;
    while (position < content.size()) {
        std::size_t end = content.find('\n', position);
        std::size_t next = end == std::string::npos ? content.size() : end + 1;
        std::string text = content.substr(position, next - position);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        position = next;
        if (text.empty() || text[0] == '#') continue;
        line = FromUtf8(text);
        found = true;
        break;
    }
    if (found) {
        std::string remaining = content.substr(position);
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        DWORD written = 0;
        if (!remaining.empty()) {
            WriteFile(file, remaining.data(), static_cast<DWORD>(remaining.size()), &written,
                      nullptr);
        }
        SetEndOfFile(file);
    }
    CloseHandle(file);
    return found;
}

[[maybe_unused]] Answer NextAnswer() {
    Answer answer;
    std::wstring line;
    EraseOnExit<std::wstring> erase_line(line);
    if (!TakeAnswerLine(line)) return answer;
    if (!ParseAnswer(line, answer)) {
        Event("script_error").AddText("text", line).Write();
        Answer fallback;
        fallback.kind = "script_error";
        return fallback;
    }
    return answer;
}

[[maybe_unused]] void* Pack(const Answer& answer, ULONG& size) {
    const std::wstring* fields[3] = {&answer.user, &answer.domain, &answer.password};
    std::size_t chars = 0;
    for (const std::wstring* field : fields) chars += field->size();
    size = static_cast<ULONG>(sizeof(PackedHeader) + chars * sizeof(wchar_t));
    auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!bytes) return nullptr;
    PackedHeader header{};
    header.magic = kMagic;
    for (int i = 0; i < 3; ++i) {
        header.lengths[i] = static_cast<DWORD>(fields[i]->size());
        header.counts[i] = answer.counts[i];
    }
    header.has_counts = answer.has_counts;
    header.sizing_error = answer.sizing_error;
    header.unpack_fails = answer.unpack_fails;
    header.unpack_error = answer.unpack_error;
    CopyMemory(bytes, &header, sizeof(header));
    BYTE* text = bytes + sizeof(header);
    for (const std::wstring* field : fields) {
        CopyMemory(text, field->data(), field->size() * sizeof(wchar_t));
        text += field->size() * sizeof(wchar_t);
    }
    return bytes;
}

[[maybe_unused]] void InstallLogonStandInOnce() {
    std::wstring path = ReadVariable(L"STAND_IN_LOGON_DLL");
    if (path.empty() || GetModuleHandleW(path.c_str()) != nullptr) return;
    HMODULE logon = LoadLibraryW(path.c_str());
    DWORD error = logon ? ERROR_SUCCESS : GetLastError();
    bool installed = false;
    if (logon) {
        FARPROC entry = GetProcAddress(logon, "InstallLogonStandIn");
        if (entry) {
            reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void*>(entry))();
            installed = true;
        }
    }
    Event("logon_dll")
        .AddText("path", path)
        .Add("handle", logon)
        .Add("error", error)
        .Add("install", installed)
        .Write();
}

[[maybe_unused]] void RunPromptHook() {
    std::wstring command = ReadVariable(L"STAND_IN_CREDUI_PROMPT_HOOK");
    if (command.empty()) return;
    command += L" " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    DWORD error = ERROR_SUCCESS;
    DWORD exit_code = 0;
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        error = GetLastError();
    }
    Event("hook").Add("error", error).Add("exit_code", exit_code).Write();
}

std::uint64_t CountOrZero(const DWORD* count) { return count ? *count : 0; }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        wchar_t module[MAX_PATH] = {};
        GetModuleFileNameW(instance, module, MAX_PATH);
        Event("attach").AddText("module", std::wstring(module)).Write();
    } else if (reason == DLL_PROCESS_DETACH) {
        Event("detach").Add("process_exit", reserved != nullptr).Write();
    }
    return TRUE;
}

#ifndef STAND_IN_WITHOUT_PROMPT
extern "C" __declspec(dllexport) DWORD WINAPI
    CredUIPromptForWindowsCredentialsW(PCREDUI_INFOW info, DWORD auth_error, ULONG* package,
                                       LPCVOID in_buffer, ULONG in_size, LPVOID* out_buffer,
                                       ULONG* out_size, BOOL* save, DWORD flags) {
    LARGE_INTEGER shown;
    QueryPerformanceCounter(&shown);
    Event prompt("prompt");
    prompt.Add("counter", static_cast<std::uint64_t>(shown.QuadPart)).Add("info", info);
    if (info) {
        DWORD owner_pid = 0;
        if (info->hwndParent) GetWindowThreadProcessId(info->hwndParent, &owner_pid);
        prompt.Add("cb_size", info->cbSize)
            .Add("hwnd_parent", info->hwndParent)
            .Add("hwnd_parent_pid", owner_pid)
            .AddText("message", info->pszMessageText)
            .AddText("caption", info->pszCaptionText)
            .Add("banner", info->hbmBanner)
            .Add("auth_error", auth_error)
            .Add("package_ptr", package)
            .Add("package_in", CountOrZero(package))
            .Add("in_buffer", in_buffer)
            .Add("in_size", in_size)
            .Add("out_buffer_ptr", out_buffer)
            .Add("out_size_ptr", out_size)
            .Add("save_ptr", save)
            .Add("save", save ? static_cast<std::uint64_t>(*save) : 0)
            .Add("flags", flags);
    }
    prompt.Write();

    RunPromptHook();
    InstallLogonStandInOnce();

    Answer answer = NextAnswer();
    void* buffer = nullptr;
    ULONG size = 0;
    DWORD result = answer.result;
    DWORD last_error = answer.last_error;
    if (answer.with_buffer) {
        if (!out_buffer || !out_size) {
            result = ERROR_INVALID_PARAMETER;
            last_error = ERROR_INVALID_PARAMETER;
        } else {
            buffer = Pack(answer, size);
            if (!buffer) {
                result = ERROR_NOT_ENOUGH_MEMORY;
                last_error = ERROR_NOT_ENOUGH_MEMORY;
                size = 0;
            }
            *out_buffer = buffer;
            *out_size = size;
        }
    }
    Event("answer")
        .AddText("kind", FromUtf8(answer.kind))
        .Add("return", result)
        .Add("last_error", last_error)
        .Add("buffer", buffer)
        .Add("size", size)
        .Write();
    SetLastError(last_error);
    return result;
}
#endif

#ifndef STAND_IN_WITHOUT_UNPACK
extern "C" __declspec(dllexport) BOOL WINAPI
    CredUnPackAuthenticationBufferW(DWORD flags, PVOID buffer, DWORD size, LPWSTR user,
                                    DWORD* user_count, LPWSTR domain, DWORD* domain_count,
                                    LPWSTR password, DWORD* password_count) {
    const DWORD entry_error = GetLastError();
    const bool sizing = !user && !domain && !password;
    Event event("unpack");
    event.AddText("phase", std::wstring(sizing ? L"sizing" : L"fill"))
        .Add("flags", flags)
        .Add("buffer", buffer)
        .Add("size", size)
        .Add("user_buffer", user)
        .Add("user_count", CountOrZero(user_count))
        .Add("domain_buffer", domain)
        .Add("domain_count", CountOrZero(domain_count))
        .Add("password_buffer", password)
        .Add("password_count", CountOrZero(password_count));

    BOOL result = FALSE;
    DWORD error = ERROR_SUCCESS;
    PackedHeader header{};
    if (buffer && size >= sizeof(header)) CopyMemory(&header, buffer, sizeof(header));
    std::size_t chars =
        static_cast<std::size_t>(header.lengths[0]) + header.lengths[1] + header.lengths[2];
    DWORD* counts[3] = {user_count, domain_count, password_count};
    LPWSTR targets[3] = {user, domain, password};
    if (!buffer || size < sizeof(header) || header.magic != kMagic ||
        size != sizeof(header) + chars * sizeof(wchar_t) || !user_count || !domain_count ||
        !password_count) {
        error = ERROR_INVALID_PARAMETER;
    } else if (sizing) {
        for (int i = 0; i < 3; ++i) {
            *counts[i] = header.has_counts ? header.counts[i] : header.lengths[i] + 1;
        }
        error = header.sizing_error;
    } else if (header.unpack_fails) {
        error = header.unpack_error;
    } else {
        // An empty field that was given no room at all is left alone.
        bool skip[3];
        bool fits = true;
        for (int i = 0; i < 3; ++i) {
            skip[i] = header.lengths[i] == 0 && *counts[i] == 0;
            fits = fits && (skip[i] || (targets[i] && *counts[i] >= header.lengths[i] + 1));
        }
        if (!fits) {
            error = ERROR_INSUFFICIENT_BUFFER;
        } else {
            const BYTE* text = static_cast<const BYTE*>(buffer) + sizeof(header);
            for (int i = 0; i < 3; ++i) {
                if (skip[i]) continue;
                CopyMemory(targets[i], text, header.lengths[i] * sizeof(wchar_t));
                targets[i][header.lengths[i]] = L'\0';
                text += header.lengths[i] * sizeof(wchar_t);
            }
            result = TRUE;
        }
        for (int i = 0; i < 3; ++i) {
            if (!skip[i]) *counts[i] = header.lengths[i] + 1;
        }
    }

    event.Add("result", static_cast<std::uint64_t>(result))
        .Add("last_error", result ? entry_error : error)
        .Add("user_count_out", CountOrZero(user_count))
        .Add("domain_count_out", CountOrZero(domain_count))
        .Add("password_count_out", CountOrZero(password_count))
        .Write();
    SetLastError(result ? entry_error : error);
    return result;
}
#endif
