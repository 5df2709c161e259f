"""The outcomes a caller meets, each through the integrators' sample caller.
The 32-bit lane runs them against the shipped launcher.exe and
sample_caller.exe; a wrong verb and too few tokens, which the sample caller
cannot send, are the command-line cases'."""

from test_hardening import markers, planted_launcher
from wine_driver import windows_path

CANCELLED = 1223
USER_EXIT = 1602
MEMBER_NOT_IN_GROUP = 1321


def test_cancel_ends_quietly(launch, programs):
    launch.answer_cancel()
    outcome = launch.through_sample_caller(windows_path(programs.probe))
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    assert outcome.logons == [] and outcome.probe == []


def test_account_outside_administrators_is_asked_again(launch, programs):
    # Under Wine every account that exists is an administrator: an account
    # that does not resolve is the one outside the group.
    launch.answer_credentials("no_such_account_e2e", "", "Pw1")
    launch.answer_session_user()
    outcome = launch.through_sample_caller(windows_path(programs.probe))
    assert outcome.exit_code == 0, outcome.boxes
    assert [p["auth_error"] for p in outcome.prompts] == [0, MEMBER_NOT_IN_GROUP]
    assert len(outcome.logons) == len(outcome.probe) == 1


def test_programs_user_exit_is_the_exit_code(launch, programs):
    launch.answer_session_user()
    launch.probe_exit_code = USER_EXIT
    outcome = launch.through_sample_caller(windows_path(programs.probe))
    assert outcome.exit_code == USER_EXIT
    outcome.assert_boxes()
    assert len(outcome.probe) == 1


def test_dlls_planted_beside_the_launcher_are_not_loaded(launch, programs, support, tmp_path):
    folder = tmp_path / "planted"
    launcher = planted_launcher(launch, programs, support, folder)
    outcome = launch.through_sample_caller(windows_path(programs.probe), "planted",
                                           launcher=launcher)
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    assert markers(folder) == {}
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == ["planted"]
