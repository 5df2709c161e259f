#include "stand_in_session.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace credui_testing {

namespace {

constexpr wchar_t kScriptVariable[] = L"STAND_IN_CREDUI_SCRIPT";
constexpr wchar_t kLogVariable[] = L"STAND_IN_CREDUI_LOG";

std::string Unescape(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        char next = text[++i];
        result += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return result;
}

StandInEvent ParseEvent(const std::string& line) {
    StandInEvent event;
    std::size_t start = 0;
    bool first = true;
    for (;;) {
        std::size_t end = line.find('\t', start);
        std::string part = line.substr(start, end == std::string::npos ? end : end - start);
        if (first) {
            event.name = part;
            first = false;
        } else {
            std::size_t equals = part.find('=');
            if (equals != std::string::npos) {
                event.fields[part.substr(0, equals)] = Unescape(part.substr(equals + 1));
            }
        }
        if (end == std::string::npos) return event;
        start = end + 1;
    }
}

}  // namespace

std::uint64_t StandInEvent::Number(const std::string& key) const {
    auto found = fields.find(key);
    if (found == fields.end()) {
        ADD_FAILURE() << "event " << name << " has no field " << key;
        return 0;
    }
    return std::stoull(found->second);
}

std::wstring StandInEvent::Text(const std::string& key) const {
    auto found = fields.find(key);
    if (found == fields.end()) {
        ADD_FAILURE() << "event " << name << " has no field " << key;
        return std::wstring();
    }
    return FromUtf8(found->second);
}

std::wstring TempFilePath(const wchar_t* prefix) {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, prefix, 0, path) == 0) {
        throw std::runtime_error("cannot make a temporary file");
    }
    return path;
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string content;
    testing_support::ReadRemainingBytes(file, content);
    CloseHandle(file);
    return content;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write a test file");
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes.size()) throw std::runtime_error("cannot write a test file");
}

std::uint64_t Address(const void* pointer) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

StandInSession::StandInSession()
    : script_path_(TempFilePath(L"scr")), log_path_(TempFilePath(L"log")) {
    WriteFileBytes(script_path_, std::string());
    WriteFileBytes(log_path_, std::string());
    SetEnvironmentVariableW(kScriptVariable, script_path_.c_str());
    SetEnvironmentVariableW(kLogVariable, log_path_.c_str());
}

StandInSession::~StandInSession() {
    SetEnvironmentVariableW(kScriptVariable, nullptr);
    SetEnvironmentVariableW(kLogVariable, nullptr);
    DeleteFileW(script_path_.c_str());
    DeleteFileW(log_path_.c_str());
}

void StandInSession::Script(const std::string& lines) const { WriteFileBytes(script_path_, lines); }

std::string StandInSession::RemainingScript() const { return ReadFileBytes(script_path_); }

std::vector<StandInEvent> StandInSession::Events() const {
    std::vector<StandInEvent> events;
    std::istringstream log(ReadFileBytes(log_path_));
    std::string line;
    while (std::getline(log, line)) {
        if (!line.empty()) events.push_back(ParseEvent(line));
    }
    return events;
}

std::vector<StandInEvent> StandInSession::Events(const std::string& name) const {
    std::vector<StandInEvent> selected;
    for (StandInEvent& event : Events()) {
        if (event.name == name) selected.push_back(std::move(event));
    }
    return selected;
}

std::string StandInSession::EventNames() const {
    std::string names;
    for (const StandInEvent& event : Events()) {
        if (!names.empty()) names += ' ';
        names += event.name;
    }
    return names;
}

}  // namespace credui_testing
