"""Hardening of the launcher under Wine: DLLs planted beside it are not loaded,
and the typed password is gone from its memory once the logon call returns."""

import os
import re
import shutil
import struct

import pytest

from support_programs import (assert_scan_ran, masked_needles, read_scans,
                              secret_needles)
from wine_driver import windows_path

CANCELLED = 1223
FAILURE_EXIT = 1064
DEFAULT_STACK_GUARD = 0x2F6A1C5D  # the guard's value until start-up sets it
MEMBER_NOT_IN_GROUP = 1321
LOGON_FAILURE = 1326

# Windows' order for a DLL that is not a KnownDLL: the program's own folder first.
NATIVE_FIRST = "netapi32=n,b;credui=n;mscoree,mshtml="

# Distinctive passwords: nothing else in a process holds these texts.
PASSWORD = "Qv7!harden-Lifetime#2931"
WRONG_PASSWORD = "Zr4?wrong-Attempt%8812"
REFUSED_PASSWORD = "Mk3$refused-Account^5507"


def plant(folder, support):
    """Copies the planted DLLs into `folder`."""
    for dll in (support.planted_netapi32, support.planted_credui):
        shutil.copyfile(dll, folder / dll.name)


def markers(folder):
    """The planted DLLs that were loaded, by lower-case DLL name, with the
    programs that loaded them. Wine names a module as it was asked for
    (e.g. NETAPI32.dll), so the marker's case varies."""
    return {path.name[:-len(".loaded")].lower(): path.read_bytes().decode("utf-16-le")
            for path in folder.glob("*.loaded")}


def test_planted_netapi32_is_loaded_by_a_program_that_imports_it(wine, support, tmp_path):
    # The control: with Windows' search order, a plant beside a program that
    # imports netapi32.dll is taken. Without this, the launcher test below
    # could pass for a reason that has nothing to do with the launcher.
    folder = tmp_path / "importer"
    folder.mkdir()
    importer = folder / "netapi_importer.exe"
    shutil.copyfile(support.netapi_importer, importer)
    plant(folder, support)
    env = wine.base_environment()
    env["WINEDLLOVERRIDES"] = NATIVE_FIRST
    run = wine.run(importer, [], env, folder, close_boxes=False)
    assert run.exit_code == 0, run.stderr[-2000:]
    assert run.stdout.strip().lower() == \
        "netapi32=" + windows_path(folder / "netapi32.dll").lower()
    loaded = markers(folder)
    assert list(loaded) == ["netapi32.dll"]
    assert loaded["netapi32.dll"].lower() == windows_path(importer).lower()


def planted_launcher(launch, programs, support, folder):
    """A copy of the launcher in `folder` with the DLLs planted beside it,
    for a launch with Windows' search order that the session user answers."""
    folder.mkdir()
    launcher = folder / "launcher.exe"
    shutil.copyfile(programs.launcher, launcher)
    plant(folder, support)
    launch.dll_overrides = NATIVE_FIRST
    launch.answer_session_user()
    return launcher


def test_launcher_ignores_dlls_planted_beside_it(launch, programs, support, tmp_path):
    folder = tmp_path / "planted"
    launcher = planted_launcher(launch, programs, support, folder)
    launch.logon_script = [f"account {launch.user}\t*\tPw1"]
    outcome = launch.start_raw(windows_path(launcher),
                               f'execute 0 "{windows_path(programs.probe)}" planted')
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    assert markers(folder) == {}
    # The dialog came from the system directory, the account check passed
    # (netapi32 from system32 answered) and the child ran.
    [attach] = outcome.events("attach")
    assert attach["module"].lower() == r"c:\windows\system32\credui.dll"
    [logon] = outcome.logons
    assert logon["outcome"] == "started"
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == ["planted"]


def test_launcher_refuses_to_run_when_the_dll_search_cannot_be_restricted(launch):
    # The starter makes both restriction calls of the real executable fail
    # before its constructors run.
    launch.starter_options = ["refuse-dll-search"]
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes("Failed to restrict the DLL search path")
    assert outcome.prompts == []
    assert outcome.probe == []


def stack_guard_rva(launcher):
    """Where the stack guard lies in the launcher's image: its address in the
    link map beside the executable, less the image base of the PE header."""
    link_map = launcher.with_name(launcher.name + ".map").read_text(errors="replace")
    match = re.search(r"^\s+0x([0-9a-f]+)\s+__stack_chk_guard$", link_map, re.M)
    assert match, "__stack_chk_guard is not in the link map"
    image = launcher.read_bytes()
    optional_header = struct.unpack_from("<I", image, 0x3C)[0] + 24
    if struct.unpack_from("<H", image, optional_header)[0] == 0x20B:  # PE32+
        image_base = struct.unpack_from("<Q", image, optional_header + 24)[0]
    else:
        image_base = struct.unpack_from("<I", image, optional_header + 28)[0]
    return int(match.group(1), 16) - image_base


def test_stack_guard_is_random_in_every_run(launch, programs, support):
    # The launcher's child reads the guard while the launcher waits for it.
    rva = stack_guard_rva(programs.launcher)
    launch.answer_session_user()
    for _ in range(2):
        outcome = launch.execute(windows_path(support.guard_reader), launch.win("guards.txt"),
                                 f"{rva:x}")
        assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    first, second = (int(line, 16) for line in launch.file("guards.txt").read_text().split())
    assert DEFAULT_STACK_GUARD not in (first, second)
    assert first != second


def scan_child(launch, support, *needles):
    """Makes the scanner the launcher's child: while the launcher waits for
    it, it searches the launcher's memory for `needles`."""
    report = launch.file("child_scan.jsonl")
    args = [launch.win("child_scan.jsonl"), masked_needles(*needles), "parent"]
    return report, (windows_path(support.memory_scan), *args)


def hook_scans(launch, support, *needles):
    """Has the dialog scan its own process at the start of every prompt."""
    report = launch.file("prompt_scan.jsonl")
    launch.extra_env["STAND_IN_CREDUI_PROMPT_HOOK"] = \
        f'"{windows_path(support.memory_scan)}" "{launch.win("prompt_scan.jsonl")}" ' + \
        masked_needles(*needles)
    return report


@pytest.mark.parametrize("erase", ["keep", "erase"])
def test_scan_finds_a_freed_secret_unless_it_was_erased(wine, support, tmp_path, erase):
    # The control for the scans below: a copy that was released without
    # erasing is still found, an erased one is not.
    env = wine.base_environment()
    report = tmp_path / "scan.jsonl"
    run = wine.run(support.heap_leftover,
                   [windows_path(support.memory_scan), windows_path(report),
                    masked_needles(*secret_needles(PASSWORD)), erase], env, tmp_path,
                   close_boxes=False)
    assert run.exit_code == 0, run.stderr[-2000:]
    [scan] = read_scans(report)
    assert_scan_ran(scan)
    if erase == "keep":
        if "heap" in os.environ.get("LAUNCHER_E2E_WINEDEBUG", ""):
            pytest.skip("Wine's heap checking fills released blocks, so none keeps a secret")
        assert sum(scan["hits"]) > 0, scan
    else:
        assert scan["hits"] == [0, 0, 0], scan


def secret_hits(scan, first, count=3):
    """The hits of one secret's needles, which start at index `first`."""
    return scan["hits"][first:first + count]


def test_password_is_gone_while_the_child_runs(launch, support):
    launch.logon_script = [f"account {launch.user}\t*\t{PASSWORD}"]
    launch.answer_session_user(password=PASSWORD)
    report, (program, *args) = scan_child(launch, support, launch.caption,
                                          *secret_needles(PASSWORD))
    outcome = launch.execute(program, *args)
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    [logon] = outcome.logons
    assert logon["password"] == PASSWORD
    [scan] = read_scans(report)
    assert_scan_ran(scan)
    assert scan["target"] != 0
    # The positive control: a text that the launcher does hold is found.
    assert scan["hits"][0] > 0, scan
    assert secret_hits(scan, 1) == [0, 0, 0], scan["places"]


def test_password_of_a_refused_account_is_gone_at_the_next_prompt(launch, support):
    report = hook_scans(launch, support, launch.caption, *secret_needles(REFUSED_PASSWORD))
    launch.answer_credentials("no-such-account-h4rd", "", REFUSED_PASSWORD)
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED, outcome.boxes
    first, second = outcome.prompts
    assert second["auth_error"] == MEMBER_NOT_IN_GROUP
    assert outcome.logons == []
    hooks = outcome.events("hook")
    assert [(h["error"], h["exit_code"]) for h in hooks] == [(0, 0), (0, 0)]
    before, after = read_scans(report)
    for scan in (before, after):
        assert_scan_ran(scan)
        assert scan["hits"][0] > 0, scan  # the caption
    assert secret_hits(after, 1) == [0, 0, 0], after["places"]


def test_password_of_a_refused_logon_is_gone_at_the_next_prompt(launch, support):
    launch.logon_script = [f"account {launch.user}\t*\t{PASSWORD}"]
    needles = [launch.caption, *secret_needles(WRONG_PASSWORD), *secret_needles(PASSWORD)]
    report = hook_scans(launch, support, *needles)
    launch.answer_session_user(password=WRONG_PASSWORD)
    launch.answer_session_user(password=PASSWORD)
    child_report, (program, *args) = scan_child(launch, support, *needles)
    outcome = launch.execute(program, *args)
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    first, second = outcome.prompts
    assert second["auth_error"] == LOGON_FAILURE
    assert [logon["outcome"] for logon in outcome.logons] == ["failed", "started"]
    first_scan, second_scan = read_scans(report)
    [child_scan] = read_scans(child_report)
    for scan in (first_scan, second_scan, child_scan):
        assert_scan_ran(scan)
        assert scan["hits"][0] > 0, scan  # the caption
    assert secret_hits(second_scan, 1) == [0, 0, 0], second_scan["places"]
    assert secret_hits(child_scan, 1, 6) == [0] * 6, child_scan["places"]
