// Drives the scripted credential UI stand-in from a test: writes its answer
// script, points it at a fresh log through the environment, and reads back
// the events that it logged.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "text_files.h"

namespace credui_testing {

// One logged line: the event name and its key=value fields (texts unescaped, UTF-8).
struct StandInEvent {
    std::string name;
    std::map<std::string, std::string> fields;

    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    // Fails the current test (and gives 0 / an empty text) when the field is missing.
    std::uint64_t Number(const std::string& key) const;
    std::wstring Text(const std::string& key) const;
};

class StandInSession {
  public:
    StandInSession();
    ~StandInSession();
    StandInSession(const StandInSession&) = delete;
    StandInSession& operator=(const StandInSession&) = delete;

    // Replaces the answer script; `lines` is UTF-8, one answer per line.
    void Script(const std::string& lines) const;
    std::string RemainingScript() const;

    std::vector<StandInEvent> Events() const;
    std::vector<StandInEvent> Events(const std::string& name) const;
    // The names of all events in order, e.g. "attach prompt answer detach".
    std::string EventNames() const;

    const std::wstring& log_path() const { return log_path_; }

  private:
    std::wstring script_path_;
    std::wstring log_path_;
};

std::wstring TempFilePath(const wchar_t* prefix);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
using testing_support::FromUtf8;
using testing_support::ToUtf8;
std::uint64_t Address(const void* pointer);

}  // namespace credui_testing
