"""Logon and child: the account check, the arguments of the logon call, the
re-prompts after refused logons, and the child's exit code as the
launcher's own."""

import pytest

from wine_driver import windows_path

FAILURE_EXIT = 1064
CANCELLED = 1223
LOGON_WITH_PROFILE = 0x1
NORMAL_PRIORITY_CLASS = 0x20


def assert_started_once(outcome):
    assert len(outcome.probe) == 1, "the child did not run exactly once"
    assert [r["outcome"] for r in outcome.logons][-1] == "started"


@pytest.mark.parametrize("child_exit, launcher_exit, box", [
    (0, 0, None),
    (1602, 1602, None),
    (1223, 1223, None),
    (1, FAILURE_EXIT, "Error 1: failed to start downloader"),
    (0xC0000005, FAILURE_EXIT, "Error 3221225477: failed to start downloader"),
])
def test_child_exit_code(launch, child_exit, launcher_exit, box):
    launch.answer_session_user()
    launch.probe_exit_code = hex(child_exit)
    outcome = launch.execute_probe("--flag")
    assert outcome.exit_code == launcher_exit
    if box:
        outcome.assert_boxes(box)
    else:
        outcome.assert_boxes()
    assert_started_once(outcome)
    assert len(outcome.prompts) == 1


def test_logon_arguments(launch, wine, programs, session_user):
    launch.answer_session_user(password="Pw1")
    outcome = launch.execute_probe("one", "two words")
    assert outcome.exit_code == 0
    [logon] = outcome.logons
    probe = windows_path(programs.probe)
    assert logon["user"] == session_user
    assert logon["domain"] == ""  # an empty domain is an empty string, not null
    assert logon["password"] == "Pw1"
    assert logon["logon_flags"] == LOGON_WITH_PROFILE
    assert logon["application_name"] == probe
    assert logon["command_line"] == f'{probe} one "two words"'
    assert logon["creation_flags"] == NORMAL_PRIORITY_CLASS
    assert logon["environment_is_null"] is True
    assert logon["current_directory_is_null"] is True
    assert logon["startup_info_is_null"] is False
    assert logon["startup_info_cb"] == (104 if wine.arch == "win64" else 68)
    assert logon["desktop"] == ""  # an empty string, not null
    assert logon["process_information_is_null"] is False
    # The system gets the command line exactly as the child then sees it.
    [child] = outcome.probe
    assert child["command_line"] == logon["command_line"]
    assert child["process_id"] == logon["child_process_id"]


def test_domain_is_passed_as_typed(launch, computer_name, session_user):
    launch.answer_credentials(session_user, computer_name, "Pw1")
    outcome = launch.execute_probe()
    assert outcome.exit_code == 0
    [logon] = outcome.logons
    assert logon["user"] == session_user
    assert logon["domain"] == computer_name


def test_password_is_erased_before_the_wait(launch):
    launch.answer_session_user(password="Pw1")
    outcome = launch.execute_probe()
    assert outcome.exit_code == 0
    [wait] = outcome.waits
    assert wait["child_process_id"] == outcome.logons[0]["child_process_id"]
    assert wait["password_left_in_memory"] is False


def test_launcher_waits_for_a_slow_child(launch):
    launch.answer_session_user()
    launch.probe_exit_code = 1602
    launch.extra_env["PROBE_SLEEP_MS"] = "2500"
    outcome = launch.execute_probe()
    assert outcome.exit_code == 1602
    assert outcome.run.seconds >= 2.5


def test_wrong_password_then_right(launch):
    launch.answer_session_user(password="wrong")
    launch.answer_session_user(password="Pw1")
    outcome = launch.execute_probe()
    assert outcome.exit_code == 0
    outcome.assert_boxes()
    first, second = outcome.prompts
    assert first["auth_error"] == 0
    assert second["auth_error"] == 1326
    assert second["message"] == ""
    assert [(r["password"], r["outcome"], r["error"]) for r in outcome.logons] == [
        ("wrong", "failed", 1326), ("Pw1", "started", 0)]
    assert_started_once(outcome)


@pytest.mark.parametrize("message", ["Dieses Konto braucht ein Kennwort – bitte eines setzen",
                                     None])
def test_account_restriction_shows_the_empty_password_message(launch, message):
    launch.empty_password_message = message
    launch.logon_script.append("fail 1327")
    launch.answer_session_user(password="")
    launch.answer_session_user(password="Pw1")
    outcome = launch.execute_probe()
    assert outcome.exit_code == 0
    first, second = outcome.prompts
    # The message only comes with error 1327.
    assert (first["auth_error"], first["message"]) == (0, "")
    assert second["auth_error"] == 1327
    assert second["message_null"] == 0
    assert second["message"] == (message or "")
    assert outcome.logons[0]["password"] == ""
    assert_started_once(outcome)


@pytest.mark.parametrize("error", [1328, 1329, 1330, 1331])
def test_other_logon_refusals_prompt_again(launch, error):
    launch.empty_password_message = "only for 1327"
    launch.logon_script.append(f"fail {error}")
    launch.answer_session_user()
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    first, second = outcome.prompts
    assert second["auth_error"] == error
    assert second["message"] == ""
    assert len(outcome.logons) == 1
    assert outcome.probe == []


def test_other_logon_error_ends_without_a_prompt(launch):
    launch.logon_script.append("fail 5")
    launch.answer_session_user()
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("Error 5: failed to start downloader")
    assert len(outcome.prompts) == 1
    assert len(outcome.logons) == 1


def test_logon_failure_without_last_error(launch):
    launch.logon_script.append("fail-last-error-0")
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("Error 1359: failed to start downloader")
    assert len(outcome.prompts) == 1
    assert outcome.probe == []


def test_unknown_account_is_refused_without_a_logon(launch):
    launch.answer_credentials("no_such_account_e2e", "", "Pw1")
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    first, second = outcome.prompts
    assert second["auth_error"] == 1321
    assert second["message"] == ""
    assert outcome.logons == []


def test_refused_account_then_administrator(launch):
    launch.answer_credentials("no_such_account_e2e", "", "Pw1")
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == 0
    assert [p["auth_error"] for p in outcome.prompts] == [0, 1321]
    assert len(outcome.logons) == 1
    assert_started_once(outcome)


@pytest.mark.parametrize("relative, error", [("missing.exe", 2),
                                             ("missing-folder/missing.exe", 3)])
def test_program_that_does_not_exist(launch, relative, error):
    launch.answer_session_user()
    launch.answer_session_user()
    outcome = launch.execute(windows_path(launch.dir / relative))
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes(f"Error {error}: failed to start downloader")
    assert len(outcome.prompts) == 1
    [logon] = outcome.logons
    assert (logon["outcome"], logon["error"]) == ("failed", error)
