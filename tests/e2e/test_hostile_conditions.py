"""Hostile conditions around a launch: the owner, the launcher or the child
ended from outside, a crashing child, eight launchers at once, and programs
that cannot be started."""

import re
import shutil
import time

import pytest

from records import read_json_lines
from wine_driver import WineTimeout, join_command_line, windows_path

FAILURE_SHOWN = 1064
CANCELLED = 1223
USER_EXIT = 1602
ACCESS_VIOLATION = 0xC0000005
MAX_PATH = 260


def wait_for(launch, condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise WineTimeout(f"no {what} within {seconds} s\n" +
                              launch.wine.describe_screen(launch.wine.base_environment()))
        time.sleep(0.1)


def end_from_outside(launch, support, process_id, exit_code):
    run = launch.wine.run(support.end_process, [hex(exit_code), str(process_id)],
                          launch.wine.base_environment(), launch.dir / "ender", close_boxes=False)
    assert run.exit_code == 0, run.stderr[-2000:]


def begin_probe_launch(launch, *args):
    """Starts the launcher on the probe and returns at once."""
    tokens = ["execute", "0", windows_path(launch.programs.probe), *args]
    return launch.begin_raw(windows_path(launch.programs.launcher), join_command_line(tokens))


def probe_records(launch):
    return read_json_lines(launch.file("probe.log"))


def started_process_id(started):
    match = re.search(r"^process_id=(\d+)$", started.stdout(), re.M)
    return int(match.group(1)) if match else None


def test_owner_that_ends_while_the_dialog_is_shown(launch, support):
    tag = launch.dir.name
    report = launch.file("owner.txt")
    owner = launch.wine.start(support.owner_window_helper,
                              [launch.win("owner.txt"), f"ready_{tag}", f"exit_{tag}"],
                              launch.wine.base_environment(), launch.dir / "owner")
    try:
        wait_for(launch, lambda: report.exists() and len(report.read_text().split()) == 4,
                 "the owner's windows")
        visible, _, _, owner_pid = (int(n) for n in report.read_text().split())
        # The dialog's prompt ends the owner before it answers.
        launch.extra_env["STAND_IN_CREDUI_PROMPT_HOOK"] = \
            f'"{windows_path(support.end_process)}" 0 {owner_pid}'
        launch.answer_session_user()
        launch.probe_exit_code = USER_EXIT
        outcome = launch.execute_probe("after-owner", owner=str(owner_pid))
        wait_for(launch, lambda: owner.poll() is not None, "the owner's end")
    finally:
        owner.kill()
    assert outcome.exit_code == USER_EXIT, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    assert (prompt["hwnd_parent"], prompt["hwnd_parent_pid"]) == (visible, owner_pid)
    [hook] = outcome.events("hook")
    assert (hook["error"], hook["exit_code"]) == (0, 0)
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == ["after-owner"]


def test_eight_launchers_at_once(launch, wine, programs, session_user, tmp_path):
    # Each through its own sample caller, whose window owns its dialog, with
    # its own copy of the probe and its own exit code.
    exit_codes = [0, CANCELLED, USER_EXIT, 1, 2, 3, 1000 + 7, ACCESS_VIOLATION]
    launches = []
    for i, code in enumerate(exit_codes):
        each = type(launch)(wine, programs, tmp_path / f"launch{i}", session_user)
        each.answer_session_user()
        each.probe_exit_code = hex(code)
        program = each.file(f"program{i}.exe")
        each.dir.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(programs.probe, program)
        launches.append((each, program, code))
    started = [each.through_sample_caller(windows_path(program), f"run{i}", begin_only=True)
               for i, (each, program, _) in enumerate(launches)]
    runs = wine.wait(started, timeout=180)
    for i, ((each, program, code), run) in enumerate(zip(launches, runs)):
        outcome = each.outcome(run)
        if code in (0, CANCELLED, USER_EXIT):
            assert outcome.exit_code == code, (i, outcome.boxes)
            outcome.assert_boxes()
        else:
            assert outcome.exit_code == FAILURE_SHOWN, (i, outcome.boxes)
            outcome.assert_boxes(f"Error {code}: failed to start downloader")
        [prompt] = outcome.prompts
        # The sample caller is the process that the raw starter started.
        assert prompt["hwnd_parent"] != 0, i
        assert prompt["hwnd_parent_pid"] == outcome.started_process_id, i
        [child] = outcome.probe
        assert child["shell_tokens"] == [windows_path(program), f"run{i}"]


def test_child_runs_on_when_the_launcher_is_ended(launch, support):
    launch.answer_session_user()
    launch.extra_env["PROBE_SLEEP_MS"] = "10000"
    started = begin_probe_launch(launch, "slow")
    try:
        wait_for(launch, lambda: launch.file("probe.log").exists(), "the child's start")
        end_from_outside(launch, support, started_process_id(started), 0xE0)
        [run] = launch.wine.wait([started], timeout=30)
    finally:
        started.kill()
    assert len(probe_records(launch)) == 1, "the child ended before the launcher"
    outcome = launch.outcome(run)
    assert outcome.exit_code == 0xE0
    # The child was not ended with the launcher: it wakes and ends by itself.
    wait_for(launch, lambda: len(probe_records(launch)) == 2, "the child's own end")
    first, woke = probe_records(launch)
    assert woke["event"] == "woke"
    assert woke["process_id"] == first["process_id"] == outcome.logons[0]["child_process_id"]


def test_child_that_crashes(launch):
    launch.answer_session_user()
    launch.extra_env["PROBE_CRASH"] = "1"
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_SHOWN
    outcome.assert_boxes(f"Error {ACCESS_VIOLATION}: failed to start downloader")
    assert len(outcome.probe) == 1


def test_child_ended_from_outside(launch, support):
    launch.answer_session_user()
    launch.extra_env["PROBE_SLEEP_MS"] = "30000"
    started = begin_probe_launch(launch)
    try:
        wait_for(launch, lambda: launch.file("probe.log").exists(), "the child's start")
        [child] = probe_records(launch)
        end_from_outside(launch, support, child["process_id"], 0xDEAD)
        [run] = launch.wine.wait([started], timeout=30)
    finally:
        started.kill()
    outcome = launch.outcome(run)
    assert outcome.exit_code == FAILURE_SHOWN
    outcome.assert_boxes(f"Error {0xDEAD}: failed to start downloader")


def long_path_to_probe(launch):
    """A copy of the probe whose full path is longer than MAX_PATH."""
    folder = launch.dir
    while len(windows_path(folder)) < MAX_PATH:
        folder = folder / ("long-folder-name-" * 4)
    folder.mkdir(parents=True)
    return shutil.copy(launch.programs.probe, folder / "probe.exe")


def folder_as_program(launch):
    folder = launch.file("a-folder.exe")
    folder.mkdir()
    return folder


def text_as_program(launch):
    text = launch.file("not-a-program.exe")
    text.write_text("This is text, not a program.\r\n")
    return text


# Wine's process creation, which the logon stand-in calls, fails with 6 for
# a folder (Windows: 5), 193 for a file that is not a program (as Windows)
# and 2 for a program whose path is longer than MAX_PATH; whatever the
# error, the launcher shows that one.
@pytest.mark.parametrize("make_program", [folder_as_program, text_as_program,
                                          long_path_to_probe])
def test_program_that_cannot_be_started(launch, make_program):
    program = windows_path(make_program(launch))
    launch.answer_session_user()
    launch.answer_session_user()
    outcome = launch.execute(program)
    [logon] = outcome.logons
    assert (logon["application_name"], logon["outcome"]) == (program, "failed")
    assert logon["error"] not in (0, 1326)
    assert outcome.exit_code == FAILURE_SHOWN
    outcome.assert_boxes(f"Error {logon['error']}: failed to start downloader")
    assert len(outcome.prompts) == 1
    assert outcome.probe == []
