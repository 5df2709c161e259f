"""Programs that ask for elevation. With UAC on, Windows refuses to start them
with a logon call (740); the logon stand-in does the same for a program whose
manifest asks for elevation. The launcher then starts itself under the same
account with the verb `elevate`, and that instance asks the shell for an
elevated start, which the consent stand-in records and accepts, declines or
fails as its script says."""

import random
import shutil

import pytest

from support_programs import assert_scan_ran, masked_needles, read_scans, secret_needles
from test_hardening import NATIVE_FIRST, markers, plant
from test_round_trip import SPECIAL_TOKENS, random_tokens
from wine_driver import windows_path

ELEVATION_REQUIRED = 740
CANCELLED = 1223
USER_EXIT = 1602
FAILURE_EXIT = 1064
MALFORMED = 160
# SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI
SHELL_START_MASK = 0x40 | 0x100 | 0x400
SW_SHOWNORMAL = 1
PASSWORD = "Ev5!elevate-Lifetime#4418"


def same_path(a, b):
    return a.lower().rstrip("\\") == b.lower().rstrip("\\")


def assert_elevated_start(outcome, launcher, program, tokens, owner="0"):
    """Two logon calls with the same account: the program's, refused with 740,
    and the launcher's own elevated start; then one shell start of the
    program with exactly the caller's tokens."""
    first, second = outcome.logons
    assert (first["outcome"], first["error"]) == ("failed", ELEVATION_REQUIRED)
    assert first["application_name"] == program
    assert second["outcome"] == "started", second
    assert second["consent_stand_in"] is True
    assert same_path(second["application_name"], launcher)
    assert second["command_line"] == f"elevate {owner} " + first["command_line"]
    for field in ("user", "domain", "password", "logon_flags", "desktop"):
        assert second[field] == first[field], field
    [installed] = [r for r in outcome.consent_records if r["event"] == "installed"]
    assert installed["process_id"] == second["child_process_id"]
    [consent] = outcome.consents
    assert consent["process_id"] == second["child_process_id"]
    assert consent["verb"] == "runas"
    assert consent["file"] == program
    assert consent["mask"] == SHELL_START_MASK
    assert consent["show"] == SW_SHOWNORMAL
    assert consent["size"] in (60, 112)  # SHELLEXECUTEINFOW, 32- or 64-bit
    if consent["outcome"] == "accepted":
        [child] = outcome.probe
        assert child["shell_tokens"] == [program, *tokens], child["command_line"]
        assert child["runtime_argv"] == [program, *tokens], child["command_line"]
        assert child["process_id"] == consent["child_process_id"]
        # The program starts where the launcher was started.
        assert same_path(child["current_directory"], consent["directory"])
    return consent


@pytest.fixture
def elevated(launch, support):
    launch.answer_session_user()
    return windows_path(support.probe_requires_elevation)


def test_accepted_consent_runs_the_program_with_its_arguments(launch, programs, elevated):
    tokens = ["with space", 'q"uote\\', "", "back\\slash\\", "ünï\tcode"]
    outcome = launch.through_sample_caller(elevated, *tokens)
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    owner = str(outcome.started_process_id)
    consent = assert_elevated_start(outcome, windows_path(programs.launcher), elevated, tokens,
                                    owner=owner)
    # The consent prompt is owned by the window that owned the dialog.
    assert prompt["hwnd_parent"] != 0
    assert consent["window"] == prompt["hwnd_parent"]
    assert same_path(consent["directory"], launch.win("."))
    # The launcher erased the password before it began to wait.
    [wait] = outcome.waits
    assert wait["child_process_id"] == outcome.logons[1]["child_process_id"]
    assert wait["password_left_in_memory"] is False


ELEVATED_ROUND_TRIP_SEED = 20261210
ELEVATED_ROUND_TRIPS = 200


@pytest.mark.parametrize("tokens", [
    *SPECIAL_TOKENS,
    *(random_tokens(random.Random(ELEVATED_ROUND_TRIP_SEED * 1000 + i))
      for i in range(ELEVATED_ROUND_TRIPS))])
def test_arguments_arrive_exactly_through_the_elevated_start(launch, programs, elevated, tokens):
    outcome = launch.execute(elevated, *tokens)
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    assert_elevated_start(outcome, windows_path(programs.launcher), elevated, tokens)


def test_declined_consent_is_a_cancel(launch, programs, elevated):
    launch.consent_script = ["decline"]
    outcome = launch.execute(elevated, "x")
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    consent = assert_elevated_start(outcome, windows_path(programs.launcher), elevated, ["x"])
    assert (consent["outcome"], consent["error"]) == ("declined", CANCELLED)
    assert outcome.probe == []
    assert len(outcome.prompts) == 1


@pytest.mark.parametrize("child_exit, launcher_exit, box", [
    (0, 0, None),
    (USER_EXIT, USER_EXIT, None),
    (CANCELLED, CANCELLED, None),
    (5, FAILURE_EXIT, "Error 5: failed to start downloader"),
], ids=["0", "1602", "1223", "other"])
def test_elevated_program_exit_codes_map_as_a_childs(launch, elevated, child_exit,
                                                     launcher_exit, box):
    launch.probe_exit_code = child_exit
    outcome = launch.execute(elevated)
    assert outcome.exit_code == launcher_exit
    outcome.assert_boxes(*([box] if box else []))
    assert len(outcome.probe) == 1
    assert outcome.consents[0]["outcome"] == "accepted"


@pytest.mark.parametrize("error", [2, 1155])
def test_failed_shell_start_is_shown(launch, elevated, error):
    launch.consent_script = [f"fail {error}"]
    outcome = launch.execute(elevated)
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes(f"Error {error}: failed to start downloader")
    assert outcome.probe == []
    assert [c["outcome"] for c in outcome.consents] == ["failed"]


def test_elevation_required_for_the_elevated_start_itself_ends_without_a_loop(launch, elevated):
    # The account is checked for the first call; the second, our own
    # instance, is refused with 740 as well.
    launch.logon_script.extend(["check", f"fail {ELEVATION_REQUIRED}"])
    outcome = launch.execute(elevated)
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes(f"Error {ELEVATION_REQUIRED}: failed to start downloader")
    assert [(r["outcome"], r["error"]) for r in outcome.logons] == \
        [("failed", ELEVATION_REQUIRED), ("failed", ELEVATION_REQUIRED)]
    assert len(outcome.prompts) == 1
    assert outcome.consent_records == []
    assert outcome.probe == []


def test_program_without_elevation_is_started_by_one_logon(launch):
    launch.answer_session_user()
    outcome = launch.execute_probe("plain")
    assert outcome.exit_code == 0
    [logon] = outcome.logons
    assert logon["consent_stand_in"] is False
    assert outcome.consent_records == []


def test_password_is_gone_while_the_elevated_program_runs(launch, support):
    # The elevated program is the scanner: it reads the memory of the launcher
    # that the user typed into (its grandparent) while that one waits.
    launch.logon_script = [f"fail {ELEVATION_REQUIRED}", f"account {launch.user}\t*\t{PASSWORD}"]
    launch.logon_script.insert(1, "check")
    launch.answer_session_user(password=PASSWORD)
    report = launch.file("scan.jsonl")
    outcome = launch.execute(windows_path(support.memory_scan), launch.win("scan.jsonl"),
                             masked_needles(launch.caption, *secret_needles(PASSWORD)),
                             "grandparent")
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    assert [r["outcome"] for r in outcome.logons] == ["failed", "started"]
    assert outcome.logons[1]["password"] == PASSWORD
    [scan] = read_scans(report)
    assert_scan_ran(scan, target=outcome.started_process_id)
    assert scan["hits"][0] > 0, scan  # the caption, which the launcher does hold
    assert scan["hits"][1:] == [0, 0, 0], scan["places"]


def test_dlls_planted_beside_the_launcher_are_loaded_by_neither_instance(launch, programs,
                                                                         support, elevated,
                                                                         tmp_path):
    folder = tmp_path / "planted"
    folder.mkdir()
    launcher = folder / "launcher.exe"
    shutil.copyfile(programs.launcher, launcher)
    plant(folder, support)
    launch.dll_overrides = NATIVE_FIRST
    outcome = launch.start_raw(windows_path(launcher), f'execute 0 "{elevated}" planted')
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    assert_elevated_start(outcome, windows_path(launcher), elevated, ["planted"])
    assert markers(folder) == {}


@pytest.mark.parametrize("command_line", [
    "elevate",
    "elevate 0",
    "elevate 12x {program}",
    "elevate -1 {program}",
    "elevate 4294967296 {program}",
    'elevate "" {program}',
    'elevate 0 ""',
])
def test_malformed_elevated_start_starts_nothing(launch, programs, command_line):
    line = command_line.format(program=f'"{windows_path(programs.probe)}"')
    outcome = launch.start_raw(windows_path(programs.launcher), line)
    assert outcome.exit_code == MALFORMED
    outcome.assert_boxes()
    assert outcome.probe == []
    assert outcome.prompts == []


def test_elevated_start_called_directly_needs_no_password(launch, programs):
    # Anyone may call the verb: it asks the shell for what runas gives anyone.
    outcome = launch.start_raw(windows_path(programs.launcher),
                               f'elevate 0 "{windows_path(programs.probe)}" direct')
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    assert outcome.prompts == []
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == ["direct"]
