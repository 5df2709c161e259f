#include "fake_credui.h"

#include <objbase.h>
#include <wincred.h>

#include <cstring>

namespace launcher_tests {

namespace {

FakeCredUiState* g_state = nullptr;
FARPROC(WINAPI* g_original_get_proc_address)(HMODULE, LPCSTR) = nullptr;
BOOL(WINAPI* g_original_free_library)(HMODULE) = nullptr;
HMODULE(WINAPI* g_original_load_library_ex)(LPCWSTR, HANDLE, DWORD) = nullptr;

// Any distinct non-null value serves as the fake module handle.
HMODULE FakeModule() { return reinterpret_cast<HMODULE>(&g_state); }

bool EndsWithCredUi(LPCWSTR path) {
    std::wstring text(path ? path : L"");
    const std::wstring suffix = L"\\credui.dll";
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The answer buffer holds the three texts one after another, each with its terminator.
DWORD WINAPI FakePrompt(PCREDUI_INFOW info, DWORD auth_error, ULONG*, LPCVOID, ULONG,
                        LPVOID* out_buffer, ULONG* out_size, BOOL*, DWORD) {
    DialogCall call;
    call.auth_error = auth_error;
    call.message = info->pszMessageText ? info->pszMessageText : L"<null>";
    call.caption = info->pszCaptionText ? info->pszCaptionText : L"<null>";
    call.owner = info->hwndParent;
    g_state->calls.push_back(call);
    if (g_state->answers.empty()) return ERROR_CANCELLED;
    DialogAnswer answer = g_state->answers.front();
    g_state->answers.pop_front();
    if (answer.kind == DialogAnswer::kCancel) return ERROR_CANCELLED;
    if (answer.kind == DialogAnswer::kFail) {
        SetLastError(answer.fail_last_error);
        return answer.fail_result;
    }
    std::wstring packed =
        answer.user_name + L'\0' + answer.domain + L'\0' + answer.password + L'\0';
    ULONG bytes = static_cast<ULONG>(packed.size() * sizeof(wchar_t));
    void* buffer = CoTaskMemAlloc(bytes);
    std::memcpy(buffer, packed.data(), bytes);
    *out_buffer = buffer;
    *out_size = bytes;
    return ERROR_SUCCESS;
}

BOOL Fill(const wchar_t* text, LPWSTR out, DWORD* count) {
    DWORD needed = static_cast<DWORD>(wcslen(text) + 1);
    bool fits = out && *count >= needed;
    if (fits) std::memcpy(out, text, needed * sizeof(wchar_t));
    *count = needed;
    return fits;
}

BOOL WINAPI FakeUnpack(DWORD, PVOID buffer, DWORD, LPWSTR user, DWORD* user_count, LPWSTR domain,
                       DWORD* domain_count, LPWSTR password, DWORD* password_count) {
    auto* text = static_cast<const wchar_t*>(buffer);
    const wchar_t* user_text = text;
    const wchar_t* domain_text = user_text + wcslen(user_text) + 1;
    const wchar_t* password_text = domain_text + wcslen(domain_text) + 1;
    bool ok = Fill(user_text, user, user_count);
    ok = Fill(domain_text, domain, domain_count) && ok;
    ok = Fill(password_text, password, password_count) && ok;
    if (!ok) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return ok;
}

HMODULE WINAPI FakeLoadLibraryEx(LPCWSTR path, HANDLE file, DWORD flags) {
    if (!EndsWithCredUi(path)) return g_original_load_library_ex(path, file, flags);
    ++g_state->loads;
    return FakeModule();
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (module != FakeModule()) return g_original_get_proc_address(module, name);
    if (std::strcmp(name, "CredUIPromptForWindowsCredentialsW") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakePrompt));
    }
    if (std::strcmp(name, "CredUnPackAuthenticationBufferW") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeUnpack));
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI FakeFreeLibrary(HMODULE module) {
    if (module != FakeModule()) return g_original_free_library(module);
    ++g_state->frees;
    return TRUE;
}

}  // namespace

FakeCredUi::FakeCredUi() {
    g_state = new FakeCredUiState();
    load_ = std::make_unique<testing_support::ImportPatch>(
        "KERNEL32.dll", "LoadLibraryExW", reinterpret_cast<const void*>(&FakeLoadLibraryEx));
    g_original_load_library_ex = load_->original_as<decltype(g_original_load_library_ex)>();
    bind_ = std::make_unique<testing_support::ImportPatch>(
        "KERNEL32.dll", "GetProcAddress", reinterpret_cast<const void*>(&FakeGetProcAddress));
    g_original_get_proc_address = bind_->original_as<decltype(g_original_get_proc_address)>();
    free_ = std::make_unique<testing_support::ImportPatch>(
        "KERNEL32.dll", "FreeLibrary", reinterpret_cast<const void*>(&FakeFreeLibrary));
    g_original_free_library = free_->original_as<decltype(g_original_free_library)>();
}

FakeCredUi::~FakeCredUi() {
    free_.reset();
    bind_.reset();
    load_.reset();
    delete g_state;
    g_state = nullptr;
}

FakeCredUiState& FakeCredUi::state() { return *g_state; }

void FakeCredUi::AnswerCredentials(const std::wstring& user, const std::wstring& domain,
                                   const std::wstring& password) {
    DialogAnswer answer;
    answer.user_name = user;
    answer.domain = domain;
    answer.password = password;
    Answer(answer);
}

void FakeCredUi::AnswerCancel() {
    DialogAnswer answer;
    answer.kind = DialogAnswer::kCancel;
    Answer(answer);
}

}  // namespace launcher_tests
