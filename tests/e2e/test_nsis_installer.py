"""The NSIS sample installer, built with makensis from the script as it
ships, drives the launcher: arguments, cancel, the child's user exit and the
owner of the dialog. Every run checks the folder the installer extracted the
launcher and the program into (folder_acl.py)."""

import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from folder_acl import FolderRecorder
from installer_cases import PROGRAM_ARGS, PROGRAM_TOKENS, silent_launch_child
from wine_driver import windows_path

SCRIPT = Path(__file__).resolve().parents[2] / "samples" / "nsis" / "installer.nsi"
CANCELLED = 1223
USER_EXIT = 1602
FAILURE_EXIT = 1064
# The caption the sample sets in its own process before starting the launcher.
# The probe's arguments as the installer embeds them, and as the probe must get them.


def nsis_dir(makensis):
    info = subprocess.run([makensis, "-HDRINFO"], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=60).stdout
    match = re.search(r"\bNSISDIR=([^,\s]+)", info)
    assert match, info
    return Path(match.group(1))


def machine_runs_32_bit_code():
    """The project's one probe: it runs a tiny 32-bit program."""
    probe = Path(__file__).resolve().parents[2] / "scripts" / "runs_32_bit_code.sh"
    return subprocess.run([probe], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=60).returncode == 0


def nsis_target(wine, makensis):
    """The build's word size, which the folder ACL recorder loaded into the
    installer has: x86 for the i686 build under 32-bit Wine; for the x86_64
    build under 64-bit Wine, NSIS's amd64 stub and System plug-in where this
    NSIS has them."""
    if wine.arch == "win32":
        return "x86-unicode"
    if (nsis_dir(makensis) / "Plugins" / "amd64-unicode" / "System.dll").is_file():
        return "amd64-unicode"
    pytest.skip("this NSIS has no amd64-unicode System plug-in, so its installers are x86 "
                "only, and the x86_64 build's recorder cannot go into them (the i686 build "
                "and the 32-bit lane run these cases)")


@pytest.fixture(scope="session")
def installer(wine, programs, tmp_path_factory):
    makensis = shutil.which("makensis")
    assert makensis, "makensis is missing (scripts/setup.sh installs nsis)"
    target = nsis_target(wine, makensis)
    out = tmp_path_factory.mktemp("nsis") / "sample-installer.exe"
    started = time.monotonic()
    build = subprocess.run(
        [makensis, "-V2", "-WX", f"-XTarget {target}", f"-DLAUNCHER={programs.launcher}",
         f"-DPROGRAM={programs.probe}", f"-DPROGRAM_ARGS={PROGRAM_ARGS}", f"-DOUTFILE={out}",
         str(SCRIPT)],
        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    assert build.returncode == 0, build.stdout + build.stderr
    print(f"{target} installer built in {time.monotonic() - started:.2f} s")
    return out


def run_installer(launch, installer, *switches, follow=()):
    """Runs the installer with the folder ACL recorder in it (and in the
    programs named in `follow` that it starts); gives the outcome and the
    recorder."""
    # The caption must come from the installer, not from the test's environment.
    launch.caption = None
    folders = FolderRecorder(launch, follow)
    outcome = launch.start_raw(windows_path(installer),
                               " ".join([f'"{windows_path(installer)}"', *switches]))
    return outcome, folders


def test_silent_run_passes_the_arguments_exactly(launch, installer):
    launch.answer_session_user()
    outcome, folders = run_installer(launch, installer, "/S")
    assert outcome.exit_code == 0, outcome.run.stderr[-2000:]
    child = silent_launch_child(outcome, PROGRAM_TOKENS)
    assert child["shell_tokens"][0].lower().startswith(folders.launch_folder().lower() + "\\")


def test_cancel_stops_the_installer_before_the_program(launch, installer):
    launch.answer_cancel()
    outcome, folders = run_installer(launch, installer, "/S")
    assert outcome.exit_code == CANCELLED
    folders.launch_folder()
    outcome.assert_boxes()
    assert len(outcome.prompts) == 1
    assert outcome.logons == []
    assert outcome.probe == []


def test_programs_user_exit_is_the_installers_exit_code(launch, installer):
    launch.answer_session_user()
    launch.probe_exit_code = USER_EXIT
    outcome, folders = run_installer(launch, installer, "/S")
    assert outcome.exit_code == USER_EXIT
    folders.launch_folder()
    outcome.assert_boxes()
    assert len(outcome.probe) == 1


def test_failure_the_launcher_has_shown_is_the_installers_exit_code(launch, installer):
    launch.answer_session_user()
    launch.probe_exit_code = 5
    outcome, folders = run_installer(launch, installer, "/S")
    assert outcome.exit_code == FAILURE_EXIT
    folders.launch_folder()
    outcome.assert_boxes("Error 5: failed to start downloader")


def test_installer_window_owns_the_dialog(launch, installer):
    launch.answer_cancel()
    outcome, folders = run_installer(launch, installer)
    assert outcome.exit_code == CANCELLED
    folders.launch_folder()
    [prompt] = outcome.prompts
    assert prompt["hwnd_parent"] != 0
    assert prompt["hwnd_parent_pid"] == outcome.started_process_id
