"""The credential dialog as the launcher shows it: its library, its owner
window, its texts and its failures."""

import shutil
from pathlib import Path

import pytest

FAILURE_EXIT = 1064
CANCELLED = 1223
CREDUIWIN_GENERIC = 0x1


def test_cancel_at_once_ends_quietly(launch):
    launch.answer_cancel()
    outcome = launch.execute_probe("x")
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    assert prompt["auth_error"] == 0
    assert prompt["flags"] == CREDUIWIN_GENERIC
    assert prompt["in_buffer"] == 0 and prompt["in_size"] == 0
    assert prompt["message_null"] == 0 and prompt["message"] == ""
    assert prompt["banner"] == 0
    assert outcome.logons == []
    assert outcome.probe == []


def test_cancel_with_an_answer_buffer_ends_quietly(launch, session_user):
    launch.answer(f"cancel-with-buffer {session_user}\t\tPw1")
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    assert outcome.events("unpack") == []
    assert outcome.logons == []


def test_failing_dialog_shows_its_last_error(launch):
    # The dialog's own return value only tells a cancel from a failure;
    # the error shown is the thread's last error.
    launch.answer("fail 31 1726")
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("Error 1726: failed to start downloader")
    assert len(outcome.prompts) == 1
    assert outcome.logons == []


def test_failing_unpack_is_not_retried(launch, session_user):
    launch.answer(f"credentials {session_user}\t\tPw1\tunpack-error=1783")
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("Error 1783: failed to start downloader")
    assert len(outcome.prompts) == 1
    assert outcome.logons == []


def test_library_loaded_and_freed_once_per_dialog(launch):
    launch.answer_session_user(password="wrong")
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == 0
    sequence = [e["event"] for e in outcome.credui if e["event"] in ("attach", "detach",
                                                                      "prompt")]
    assert sequence == ["attach", "prompt", "detach", "attach", "prompt", "detach"]
    for attach in outcome.events("attach"):
        assert attach["module"].lower() == r"c:\windows\system32\credui.dll"
    # Freed while the launcher still ran, not at its exit.
    assert [d["process_exit"] for d in outcome.events("detach")] == [0, 0]


def test_missing_library_is_a_failed_check(launch):
    launch.dll_overrides = "credui=;mscoree,mshtml="
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("CheckFailedException")
    assert outcome.credui == []
    assert outcome.logons == []


@pytest.fixture
def swap_system_credui(wine):
    """Puts a variant of the stand-in in place of system32\\credui.dll and
    restores the full stand-in afterwards."""
    installed = wine.system32 / "credui.dll"
    original = Path(wine.stand_ins) / "credui.dll"

    def swap(variant):
        shutil.copyfile(Path(wine.stand_ins) / variant, installed)

    yield swap
    shutil.copyfile(original, installed)


@pytest.mark.parametrize("variant, line", [("credui_noprompt.dll", 21),
                                           ("credui_nounpack.dll", 22)])
def test_missing_entry_is_a_failed_result_check(launch, swap_system_credui, variant, line):
    swap_system_credui(variant)
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes(
        "Failed to load credui.dll: CheckResultFailedException - 0x80010107 "
        f"(Symbol not found). At credui_module({line}) ")
    # The library was loaded, and freed again before the failure was shown.
    assert [e["event"] for e in outcome.credui] == ["attach", "detach"]
    assert outcome.events("detach")[0]["process_exit"] == 0
    assert outcome.logons == []


def test_owner_is_the_callers_window(launch):
    launch.answer_cancel()
    outcome = launch.through_sample_caller(launch.win("nothing.exe"))
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    assert prompt["hwnd_parent"] != 0
    # The raw starter started the sample caller; its window owns the dialog.
    assert prompt["hwnd_parent_pid"] == outcome.started_process_id


def test_owner_is_searched_again_for_every_dialog(launch):
    launch.answer_session_user(password="wrong")
    launch.answer_cancel()
    outcome = launch.through_sample_caller(launch.win("nothing.exe"))
    assert outcome.exit_code == CANCELLED
    first, second = outcome.prompts
    assert first["hwnd_parent_pid"] == second["hwnd_parent_pid"] == outcome.started_process_id


@pytest.mark.parametrize("owner", ["0", "4294967295"])
def test_no_owner_without_a_window_of_that_process(launch, owner):
    launch.answer_cancel()
    outcome = launch.execute_probe(owner=owner)
    assert outcome.exit_code == CANCELLED
    [prompt] = outcome.prompts
    assert prompt["hwnd_parent"] == 0


def test_sample_caller_sets_the_default_texts(launch):
    launch.caption = None
    launch.answer_cancel()
    outcome = launch.through_sample_caller(launch.win("nothing.exe"))
    assert outcome.exit_code == CANCELLED
    [prompt] = outcome.prompts
    assert prompt["caption"] == "Administrator rights are needed to continue"
