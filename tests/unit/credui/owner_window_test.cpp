// The search for the dialog's owner: the first visible, unowned top-level
// window of the owner process, in the order in which EnumWindows reports them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "import_patch.h"
#include "launcher/credential_dialog.h"
#include "owner_window_helper_process.h"
#include "stand_in_session.h"

namespace {

using credui_testing::Address;
using credui_testing::OwnerWindowHelperProcess;
using credui_testing::StandInSession;

HWND FakeHandle(int index) {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10000 + 0x10 * index));
}

struct FakeWindow {
    DWORD process_id;
    HWND owner;
    BOOL visible;
};

std::vector<FakeWindow> g_windows;  // in enumeration order; FakeHandle(i) is g_windows[i]
std::vector<std::string> g_calls;
int g_enumerations = 0;
decltype(&::EnumWindows) g_enum_original = nullptr;

int IndexOf(HWND window) {
    for (std::size_t i = 0; i < g_windows.size(); ++i) {
        if (FakeHandle(static_cast<int>(i)) == window) return static_cast<int>(i);
    }
    ADD_FAILURE() << "unknown window";
    return 0;
}

// A window that is destroyed while the search runs: the system then answers 0
// and writes no process id.
constexpr DWORD kWindowGone = 0xFFFFFFFF;

DWORD WINAPI FakeGetWindowThreadProcessId(HWND window, LPDWORD process_id) {
    int index = IndexOf(window);
    g_calls.push_back("pid " + std::to_string(index));
    if (g_windows[static_cast<std::size_t>(index)].process_id == kWindowGone) return 0;
    if (process_id) *process_id = g_windows[static_cast<std::size_t>(index)].process_id;
    return 1;
}

HWND WINAPI FakeGetWindow(HWND window, UINT command) {
    int index = IndexOf(window);
    g_calls.push_back("getwindow " + std::to_string(index) + " " + std::to_string(command));
    return command == GW_OWNER ? g_windows[static_cast<std::size_t>(index)].owner : nullptr;
}

BOOL WINAPI FakeIsWindowVisible(HWND window) {
    int index = IndexOf(window);
    g_calls.push_back("visible " + std::to_string(index));
    return g_windows[static_cast<std::size_t>(index)].visible;
}

BOOL WINAPI FakeEnumWindows(WNDENUMPROC callback, LPARAM context) {
    ++g_enumerations;
    for (std::size_t i = 0; i < g_windows.size(); ++i) {
        g_calls.push_back("offer " + std::to_string(i));
        if (!callback(FakeHandle(static_cast<int>(i)), context)) return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CountingEnumWindows(WNDENUMPROC callback, LPARAM context) {
    ++g_enumerations;
    return g_enum_original(callback, context);
}

std::string Calls() {
    std::string text;
    for (const std::string& call : g_calls) text += (text.empty() ? "" : ", ") + call;
    return text;
}

constexpr DWORD kOwnerProcess = 4242;
constexpr DWORD kOtherProcess = 4343;

class ScriptedWindows : public ::testing::Test {
  protected:
    ScriptedWindows()
        : pid_patch_("USER32.dll", "GetWindowThreadProcessId",
                     reinterpret_cast<const void*>(&FakeGetWindowThreadProcessId)),
          owner_patch_("USER32.dll", "GetWindow", reinterpret_cast<const void*>(&FakeGetWindow)),
          visible_patch_("USER32.dll", "IsWindowVisible",
                         reinterpret_cast<const void*>(&FakeIsWindowVisible)),
          enum_patch_("USER32.dll", "EnumWindows",
                      reinterpret_cast<const void*>(&FakeEnumWindows)) {
        g_windows.clear();
        g_calls.clear();
        g_enumerations = 0;
    }

    // Runs the callback on window `index` with a fresh search for kOwnerProcess.
    static BOOL Offer(int index, HWND& found) {
        launcher::OwnerWindowSearch search{kOwnerProcess, nullptr};
        BOOL go_on =
            launcher::FindOwnerWindow(FakeHandle(index), reinterpret_cast<LPARAM>(&search));
        EXPECT_EQ(search.process_id, kOwnerProcess);
        found = search.window;
        return go_on;
    }

  private:
    testing_support::ImportPatch pid_patch_;
    testing_support::ImportPatch owner_patch_;
    testing_support::ImportPatch visible_patch_;
    testing_support::ImportPatch enum_patch_;
};

TEST_F(ScriptedWindows, WindowOfAnotherProcessIsPassedOverAtOnce) {
    g_windows = {{kOtherProcess, nullptr, TRUE}};
    HWND found = FakeHandle(99);
    EXPECT_TRUE(Offer(0, found));
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(Calls(), "pid 0");
}

TEST_F(ScriptedWindows, OwnedWindowIsPassedOverBeforeItsVisibilityIsAsked) {
    g_windows = {{kOwnerProcess, FakeHandle(7), TRUE}};
    HWND found = nullptr;
    EXPECT_TRUE(Offer(0, found));
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(Calls(), "pid 0, getwindow 0 4");
}

TEST_F(ScriptedWindows, InvisibleWindowIsPassedOver) {
    g_windows = {{kOwnerProcess, nullptr, FALSE}};
    HWND found = nullptr;
    EXPECT_TRUE(Offer(0, found));
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(Calls(), "pid 0, getwindow 0 4, visible 0");
}

TEST_F(ScriptedWindows, VisibleUnownedWindowIsTakenAndEndsTheEnumeration) {
    g_windows = {{kOwnerProcess, nullptr, TRUE}};
    HWND found = nullptr;
    EXPECT_FALSE(Offer(0, found));
    EXPECT_EQ(found, FakeHandle(0));
    EXPECT_EQ(Calls(), "pid 0, getwindow 0 4, visible 0");
}

TEST_F(ScriptedWindows, FirstMatchInEnumerationOrderWins) {
    g_windows = {
        {kOtherProcess, nullptr, TRUE},        // another process
        {kOwnerProcess, FakeHandle(3), TRUE},  // owned
        {kOwnerProcess, nullptr, FALSE},       // invisible
        {kOwnerProcess, nullptr, TRUE},        // the owner
        {kOwnerProcess, nullptr, TRUE},        // a later match, never looked at
    };
    EXPECT_EQ(launcher::FindDialogOwner(kOwnerProcess), FakeHandle(3));
    EXPECT_EQ(g_enumerations, 1);
    EXPECT_EQ(Calls(),
              "offer 0, pid 0, offer 1, pid 1, getwindow 1 4, offer 2, pid 2, getwindow 2 4, "
              "visible 2, offer 3, pid 3, getwindow 3 4, visible 3");
}

TEST_F(ScriptedWindows, NoMatchingWindowMeansNoOwner) {
    g_windows = {
        {kOtherProcess, nullptr, TRUE},
        {kOwnerProcess, FakeHandle(0), TRUE},
        {kOwnerProcess, nullptr, FALSE},
    };
    EXPECT_EQ(launcher::FindDialogOwner(kOwnerProcess), nullptr);
    EXPECT_EQ(g_enumerations, 1);
}

TEST_F(ScriptedWindows, ProcessIdZeroEnumeratesNothing) {
    g_windows = {{0, nullptr, TRUE}};  // would match if it were looked at
    EXPECT_EQ(launcher::FindDialogOwner(0), nullptr);
    EXPECT_EQ(g_enumerations, 0);
    EXPECT_EQ(Calls(), "");
}

class RealWindows : public ::testing::Test {
  protected:
    RealWindows()
        : enum_patch_("USER32.dll", "EnumWindows",
                      reinterpret_cast<const void*>(&CountingEnumWindows)) {
        g_enum_original = enum_patch_.original_as<decltype(&::EnumWindows)>();
        g_enumerations = 0;
    }

  private:
    testing_support::ImportPatch enum_patch_;
};

TEST_F(RealWindows, ProcessThatDoesNotExistHasNoOwnerAndNoError) {
    DWORD missing = 0xFFFFFFF0u;
    while (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, missing)) {
        CloseHandle(process);
        missing -= 4;
    }
    EXPECT_EQ(launcher::FindDialogOwner(missing), nullptr);
    EXPECT_EQ(g_enumerations, 1);
}

TEST_F(RealWindows, ProcessIdZeroEnumeratesNothing) {
    EXPECT_EQ(launcher::FindDialogOwner(0), nullptr);
    EXPECT_EQ(g_enumerations, 0);
}

struct WindowCollection {
    DWORD process_id;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* collection = reinterpret_cast<WindowCollection*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == collection->process_id) collection->windows.push_back(window);
    return TRUE;
}

// The top-level windows of `process_id`, in enumeration order.
std::vector<HWND> TopLevelWindowsOf(DWORD process_id) {
    WindowCollection collection{process_id, {}};
    g_enum_original(CollectWindow, reinterpret_cast<LPARAM>(&collection));
    return collection.windows;
}

TEST_F(RealWindows, VisibleUnownedWindowOfTheHelperIsChosen) {
    OwnerWindowHelperProcess helper;
    std::string error;
    ASSERT_TRUE(helper.Start(error)) << error;

    // The helper's windows are what they claim to be.
    DWORD owner_process = 0;
    GetWindowThreadProcessId(helper.visible(), &owner_process);
    EXPECT_EQ(owner_process, helper.process_id());
    EXPECT_TRUE(IsWindowVisible(helper.visible()));
    EXPECT_EQ(GetWindow(helper.visible(), GW_OWNER), nullptr);
    EXPECT_FALSE(IsWindowVisible(helper.invisible()));
    EXPECT_EQ(GetWindow(helper.invisible(), GW_OWNER), nullptr);
    EXPECT_TRUE(IsWindowVisible(helper.owned()));
    EXPECT_EQ(GetWindow(helper.owned(), GW_OWNER), helper.visible());

    // Both decoys come before the right window, so a search that took either would fail here.
    std::vector<HWND> order = TopLevelWindowsOf(helper.process_id());
    auto position = [&order](HWND window) {
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (order[i] == window) return static_cast<int>(i);
        }
        return -1;
    };
    ASSERT_GE(position(helper.visible()), 0);
    EXPECT_LT(position(helper.owned()), position(helper.visible()));
    EXPECT_LT(position(helper.invisible()), position(helper.visible()));

    EXPECT_EQ(launcher::FindDialogOwner(helper.process_id()), helper.visible());
    EXPECT_EQ(g_enumerations, 1);
}

TEST_F(RealWindows, DialogIsOwnedByTheHelpersWindow) {
    OwnerWindowHelperProcess helper;
    std::string error;
    ASSERT_TRUE(helper.Start(error)) << error;
    StandInSession session;
    session.Script("cancel\ncancel\n");
    launcher::Credentials first;
    EXPECT_EQ(launcher::PromptForCredentials(helper.process_id(), L"Caption", L"", 0, first),
              static_cast<DWORD>(ERROR_CANCELLED));
    launcher::Credentials second;
    EXPECT_EQ(launcher::PromptForCredentials(0, L"Caption", L"", 0, second),
              static_cast<DWORD>(ERROR_CANCELLED));

    std::vector<credui_testing::StandInEvent> prompts = session.Events("prompt");
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0].Number("hwnd_parent"), Address(helper.visible()));
    EXPECT_EQ(prompts[0].Number("hwnd_parent_pid"), helper.process_id());
    EXPECT_EQ(prompts[1].Number("hwnd_parent"), 0u);
    EXPECT_EQ(g_enumerations, 1);
}

TEST_F(ScriptedWindows, WindowDestroyedDuringTheSearchIsNotTakenForAnyProcess) {
    g_windows = {{kWindowGone, nullptr, TRUE}};
    // Not even for the lowest process ids, whatever the id variable held.
    for (DWORD process_id : {1ul, 4ul}) {
        EXPECT_EQ(launcher::FindDialogOwner(process_id), nullptr) << process_id;
    }
}

}  // namespace
