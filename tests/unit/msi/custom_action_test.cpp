// The Windows Installer sample's custom action, run in this process against a
// scripted installer: what it extracts and starts, what it logs, how it maps
// the launcher's exit code, and each way it can fail.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "scripted_installer.h"

namespace {

using msi_test::FolderIsEmpty;
using msi_test::ScriptedInstaller;

constexpr wchar_t kQuery[] = L"SELECT `Data` FROM `Binary` WHERE `Name` = ?";

// A launcher larger than one read of the action's (64 KiB), so that it is
// read in several pieces.
std::string LauncherBytes() {
    std::string bytes(150000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

void ScriptPackage(ScriptedInstaller& installer) {
    installer.properties = {{L"UILevel", L"2"},
                            {L"LAUNCHER_BINARY", L"LauncherBin"},
                            {L"PROGRAM_BINARY", L"setup.exe"},
                            {L"PROGRAM_ARGS", L"/quiet /log \"C:\\a b.txt\""},
                            {L"AUTH_DIALOG_CAPTION", L"Install Example"},
                            {L"EMPTY_PASSWORD_MESSAGE", L"Blank passwords are refused"}};
    installer.binary_rows = {{L"LauncherBin", LauncherBytes()}, {L"setup.exe", "program bytes"}};
}

std::wstring RealWindowsDirectory() {
    wchar_t folder[MAX_PATH + 1] = {};
    UINT length = GetWindowsDirectoryW(folder, MAX_PATH + 1);
    return std::wstring(folder, length);
}

// The folder that holds a file the action extracted.
std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// Whatever went wrong, the action has closed every installer handle it made
// and no other, and left nothing in the temporary folder.
void ExpectCleanedUp(const ScriptedInstaller& installer) {
    EXPECT_TRUE(installer.open_handles.empty());
    EXPECT_TRUE(installer.unknown_closes.empty());
    EXPECT_TRUE(FolderIsEmpty(installer.temp_folder()));
}

TEST(CustomAction, ExtractsBothProgramsStartsTheLauncherAndRemovesThem) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));

    ASSERT_EQ(installer.launches.size(), 1u);
    const msi_test::Launch& launch = installer.launches[0];
    ASSERT_EQ(installer.created_directories.size(), 1u);
    const std::wstring folder = installer.created_directories[0];
    EXPECT_EQ(folder.rfind(installer.temp_folder() + L"launcher-", 0), 0u) << folder;
    EXPECT_EQ(launch.application, folder + L"\\launcher.exe");
    EXPECT_EQ(launch.application_bytes, LauncherBytes());
    EXPECT_EQ(launch.command_line,
              L"execute 0 \"" + folder + L"\\setup.exe\" /quiet /log \"C:\\a b.txt\"");
    EXPECT_FALSE(launch.inherit_handles);
    EXPECT_EQ(launch.current_directory, RealWindowsDirectory());
    EXPECT_EQ(launch.caption, L"Install Example");
    EXPECT_EQ(launch.empty_password_message, L"Blank passwords are refused");
    EXPECT_EQ(installer.queries, (std::vector<std::wstring>{kQuery, kQuery}));
    // Nobody else can open a file while it is written: four reads of the
    // launcher, two of the program (the last read of each finds the end).
    EXPECT_EQ(installer.opens_while_written,
              std::vector<DWORD>(6, static_cast<DWORD>(ERROR_SHARING_VIOLATION)));
    EXPECT_EQ(installer.log, (std::vector<std::wstring>{
                                 L"RunAsAdministrator: starting " + launch.application + L" " +
                                     launch.command_line,
                                 L"RunAsAdministrator: the launcher ended with exit code 0"}));
    ExpectCleanedUp(installer);
}

TEST(CustomAction, ProgramWithoutArgumentsGetsNone) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.properties.erase(L"PROGRAM_ARGS");
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.launches.size(), 1u);
    EXPECT_EQ(installer.launches[0].command_line,
              L"execute 0 \"" + FolderOf(installer.launches[0].application) + L"\\setup.exe\"");
}

TEST(CustomAction, LongPropertiesAreReadWhole) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    const std::wstring arguments(300, L'x');
    installer.properties[L"PROGRAM_ARGS"] = arguments;
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.launches.size(), 1u);
    const std::wstring& line = installer.launches[0].command_line;
    EXPECT_EQ(line.substr(line.size() - arguments.size() - 1), L" " + arguments);
}

struct ExitCodeCase {
    DWORD launcher;
    UINT action;
};

class CustomActionResult : public testing::TestWithParam<ExitCodeCase> {};

TEST_P(CustomActionResult, FollowsTheLaunchersExitCode) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.exit_code = GetParam().launcher;
    EXPECT_EQ(installer.Run(), GetParam().action);
    ASSERT_FALSE(installer.log.empty());
    EXPECT_EQ(installer.log.back(), L"RunAsAdministrator: the launcher ended with exit code " +
                                        std::to_wstring(GetParam().launcher));
    ExpectCleanedUp(installer);
}

// 0 succeeds; a cancel and the program's own user exit are a user exit;
// everything else, the launcher's failures included, fails the installation.
INSTANTIATE_TEST_SUITE_P(ExitCodes, CustomActionResult,
                         testing::Values(ExitCodeCase{0, ERROR_SUCCESS},
                                         ExitCodeCase{1223, ERROR_INSTALL_USEREXIT},
                                         ExitCodeCase{1602, ERROR_INSTALL_USEREXIT},
                                         ExitCodeCase{1222, ERROR_INSTALL_FAILURE},
                                         ExitCodeCase{1224, ERROR_INSTALL_FAILURE},
                                         ExitCodeCase{1601, ERROR_INSTALL_FAILURE},
                                         ExitCodeCase{1603, ERROR_INSTALL_FAILURE},
                                         ExitCodeCase{1064, ERROR_INSTALL_FAILURE},
                                         ExitCodeCase{1, ERROR_INSTALL_FAILURE}));

struct OwnerCase {
    const wchar_t* ui_level;
    const wchar_t* client;  // CLIENTPROCESSID, or null when unset
    DWORD owner;
};

// The process list the snapshot shows: this process's parent is 777.
std::vector<std::pair<DWORD, DWORD>> ProcessList() {
    DWORD self = GetCurrentProcessId();
    return {{self + 4, 1}, {self, 777}, {self + 8, self}};
}

class CustomActionOwner : public testing::TestWithParam<OwnerCase> {};

TEST_P(CustomActionOwner, IsTheProcessThatShowsTheInstallersWindow) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.properties[L"UILevel"] = GetParam().ui_level;
    if (GetParam().client) installer.properties[L"CLIENTPROCESSID"] = GetParam().client;
    installer.processes = ProcessList();
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.launches.size(), 1u);
    const std::wstring& line = installer.launches[0].command_line;
    EXPECT_EQ(line.rfind(L"execute " + std::to_wstring(GetParam().owner) + L" \"", 0), 0u) << line;
}

// UILevel 2 and below show no window; above it, the installer names its
// client process, and without that name the process that started the
// action's host (its parent) shows the window.
INSTANTIATE_TEST_SUITE_P(UserInterfaceLevels, CustomActionOwner,
                         testing::Values(OwnerCase{L"2", L"1234", 0}, OwnerCase{L"1", nullptr, 0},
                                         OwnerCase{L"3", L"1234", 1234}, OwnerCase{L"5", L"1", 1},
                                         OwnerCase{L"5", nullptr, 777},
                                         OwnerCase{L"5", L"0", 777}));

TEST(CustomAction, NoOwnerWhenTheProcessIsNotListed) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.properties[L"UILevel"] = L"5";
    installer.processes = {{GetCurrentProcessId() + 4, 1}};
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.launches.size(), 1u);
    EXPECT_EQ(installer.launches[0].command_line.rfind(L"execute 0 \"", 0), 0u);
}

TEST(CustomAction, NoOwnerWhenNoSnapshotCanBeTaken) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.properties[L"UILevel"] = L"5";
    installer.snapshot_fails = true;
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.launches.size(), 1u);
    EXPECT_EQ(installer.launches[0].command_line.rfind(L"execute 0 \"", 0), 0u);
}

// The largest answer the system gives: a path of MAX_PATH units and its
// terminator, which fills the whole count the action hands over. The buffer
// is still in use when the folder is created, so what the system wrote must
// still be there then: a count larger than the buffer lets the terminator
// land on another variable, which overwrites it.
TEST(CustomAction, TemporaryFolderAsLongAsThePathLimitIsUsed) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    const std::wstring longest = L"C:\\" + std::wstring(MAX_PATH - 4, L't') + L"\\";
    ASSERT_EQ(longest.size(), static_cast<std::size_t>(MAX_PATH));
    const std::wstring written = longest + L'\0';
    const wchar_t* written_at = nullptr;
    installer.temp_path = [&](DWORD count, LPWSTR buffer) -> DWORD {
        if (count < written.size()) return static_cast<DWORD>(written.size());
        written.copy(buffer, written.size());
        written_at = buffer;
        return static_cast<DWORD>(longest.size());
    };
    std::vector<std::wstring> buffer_at_creation;
    installer.create_directory = [&](LPCWSTR) -> BOOL {
        buffer_at_creation.emplace_back(written_at, written.size());
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(installer.created_directories.size(), 1u);
    EXPECT_EQ(installer.created_directories[0].rfind(longest + L"launcher-", 0), 0u);
    ASSERT_EQ(buffer_at_creation.size(), 1u);
    EXPECT_EQ(buffer_at_creation[0], written);
    ASSERT_EQ(installer.log.size(), 1u);
    EXPECT_EQ(installer.log[0], L"RunAsAdministrator: failed creating " +
                                    installer.created_directories[0] + L" (error 3)");
    EXPECT_TRUE(installer.launches.empty());
    ExpectCleanedUp(installer);
}

TEST(CustomAction, TemporaryFolderBeyondThePathLimitFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    DWORD count_given = 0;
    installer.temp_path = [&](DWORD count, LPWSTR) -> DWORD {
        count_given = count;
        SetLastError(ERROR_SUCCESS);
        return MAX_PATH + 2;  // the size a path one unit too long needs
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(count_given, static_cast<DWORD>(MAX_PATH + 1));
    EXPECT_TRUE(installer.created_directories.empty());
    EXPECT_EQ(installer.log,
              (std::vector<std::wstring>{
                  L"RunAsAdministrator: failed finding the temporary folder (error 0)"}));
    ExpectCleanedUp(installer);
}

TEST(CustomAction, NoTemporaryFolderFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.temp_path = [](DWORD, LPWSTR) -> DWORD {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(installer.log,
              (std::vector<std::wstring>{
                  L"RunAsAdministrator: failed finding the temporary folder (error 203)"}));
}

TEST(CustomAction, TakenFolderNamesArePassedOver) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    int refusals = 3;
    installer.create_directory = [&](LPCWSTR path) -> BOOL {
        if (refusals-- > 0) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        return CreateDirectoryW(path, nullptr);
    };
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    const std::vector<std::wstring>& tried = installer.created_directories;
    ASSERT_EQ(tried.size(), 4u);
    for (std::size_t i = 1; i < tried.size(); ++i) EXPECT_NE(tried[i], tried[i - 1]);
    ASSERT_EQ(installer.launches.size(), 1u);
    EXPECT_EQ(FolderOf(installer.launches[0].application), tried.back());
    ExpectCleanedUp(installer);
}

TEST(CustomAction, GivesUpAfterOneHundredTakenNames) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.create_directory = [](LPCWSTR) -> BOOL {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(installer.created_directories.size(), 101u);
    EXPECT_EQ(installer.log,
              (std::vector<std::wstring>{L"RunAsAdministrator: failed creating " +
                                         installer.created_directories.back() + L" (error 183)"}));
    EXPECT_TRUE(installer.launches.empty());
}

TEST(CustomAction, AnyOtherFolderFailureIsNotRetried) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.create_directory = [](LPCWSTR) -> BOOL {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(installer.created_directories.size(), 1u);
    EXPECT_EQ(installer.log,
              (std::vector<std::wstring>{L"RunAsAdministrator: failed creating " +
                                         installer.created_directories[0] + L" (error 5)"}));
    ExpectCleanedUp(installer);
}

TEST(CustomAction, MissingBinaryRowFailsAndClosesOnlyItsOwnHandles) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.binary_rows.erase(L"setup.exe");
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(installer.log,
              (std::vector<std::wstring>{
                  L"RunAsAdministrator: failed finding Binary row setup.exe (error 259)"}));
    EXPECT_TRUE(installer.launches.empty());
    ExpectCleanedUp(installer);
}

TEST(CustomAction, FailedWriteFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.write_file = [](HANDLE, LPCVOID, DWORD, LPDWORD written) -> BOOL {
        *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(installer.created_directories.size(), 1u);
    EXPECT_EQ(installer.log, (std::vector<std::wstring>{L"RunAsAdministrator: failed writing " +
                                                        installer.created_directories[0] +
                                                        L"\\launcher.exe (error 112)"}));
    EXPECT_TRUE(installer.launches.empty());
    ExpectCleanedUp(installer);
}

// A write that reports success but fewer bytes than it was given is a
// failure too: the launcher would be cut short.
TEST(CustomAction, ShortWriteFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.write_file = [](HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written) -> BOOL {
        BOOL wrote = WriteFile(file, bytes, count / 2, written, nullptr);
        SetLastError(ERROR_SUCCESS);
        return wrote;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(installer.created_directories.size(), 1u);
    EXPECT_EQ(installer.log, (std::vector<std::wstring>{L"RunAsAdministrator: failed writing " +
                                                        installer.created_directories[0] +
                                                        L"\\launcher.exe (error 0)"}));
    EXPECT_TRUE(installer.launches.empty());
    ExpectCleanedUp(installer);
}

TEST(CustomAction, EmptyBinaryKeyFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.properties[L"LAUNCHER_BINARY"] = L"";
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(installer.created_directories.size(), 1u);
    EXPECT_EQ(installer.log, (std::vector<std::wstring>{
                                 L"RunAsAdministrator: failed no Binary key given for " +
                                 installer.created_directories[0] + L"\\launcher.exe (error 87)"}));
    EXPECT_TRUE(installer.queries.empty());
    ExpectCleanedUp(installer);
}

// As with the temporary folder: the longest answer fills the whole count,
// and the buffer must still hold it when the launcher starts in that folder.
TEST(CustomAction, WindowsFolderAsLongAsThePathLimitIsTheLaunchersFolder) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    const std::wstring longest = L"C:\\" + std::wstring(MAX_PATH - 3, L'w');
    ASSERT_EQ(longest.size(), static_cast<std::size_t>(MAX_PATH));
    installer.windows_directory = [&](LPWSTR buffer, UINT count) -> UINT {
        if (count <= longest.size()) return static_cast<UINT>(longest.size() + 1);
        buffer[longest.copy(buffer, longest.size())] = L'\0';
        return static_cast<UINT>(longest.size());
    };
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.launches.size(), 1u);
    EXPECT_EQ(installer.launches[0].current_directory, longest);
}

TEST(CustomAction, WindowsFolderBeyondThePathLimitFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.windows_directory = [](LPWSTR, UINT) -> UINT {
        SetLastError(ERROR_SUCCESS);
        return MAX_PATH + 2;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(installer.log,
              (std::vector<std::wstring>{
                  L"RunAsAdministrator: failed finding the Windows folder (error 0)"}));
    EXPECT_TRUE(installer.launches.empty());
    ExpectCleanedUp(installer);
}

TEST(CustomAction, NoWindowsFolderFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.windows_directory = [](LPWSTR, UINT) -> UINT {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    };
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(installer.log,
              (std::vector<std::wstring>{
                  L"RunAsAdministrator: failed finding the Windows folder (error 5)"}));
    EXPECT_TRUE(installer.launches.empty());
    ExpectCleanedUp(installer);
}

TEST(CustomAction, FoldersSecurityDescriptorIsReleased) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.descriptors_made.size(), 1u);
    EXPECT_EQ(std::count(installer.local_frees.begin(), installer.local_frees.end(),
                         installer.descriptors_made[0]),
              1);
}

TEST(CustomAction, LaunchersHandlesAreClosedOnReturn) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    ASSERT_EQ(installer.Run(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(installer.launches.size(), 1u);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(installer.launches[0].process, &flags));
    EXPECT_FALSE(GetHandleInformation(installer.launches[0].thread, &flags));
}

TEST(CustomAction, LauncherThatCannotStartFails) {
    ScriptedInstaller installer;
    ScriptPackage(installer);
    installer.launch_error = ERROR_BAD_EXE_FORMAT;
    EXPECT_EQ(installer.Run(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(installer.launches.size(), 1u);
    ASSERT_EQ(installer.log.size(), 2u);
    EXPECT_EQ(installer.log[1], L"RunAsAdministrator: failed starting " +
                                    installer.launches[0].application + L" (error 193)");
    ExpectCleanedUp(installer);
}

}  // namespace
