"""The Inno Setup sample installer, built with ISCC from the scripts as they
ship, drives the launcher: arguments, cancel, the child's user exit, a
failure the launcher has shown and the owner of the dialog. The probe, its
arguments and the installer runs are the NSIS cases' own; every run checks
the folder setup extracted the launcher and the program into
(folder_acl.py), with the recorder in the wizard's process too."""

import os
import re
import subprocess
import threading
from pathlib import Path

import pytest

from installer_cases import PROGRAM_ARGS, PROGRAM_TOKENS, silent_launch_child
from test_nsis_installer import machine_runs_32_bit_code, run_installer
from wine_driver import windows_path

REPO = Path(__file__).resolve().parents[2]
SCRIPT = REPO / "samples" / "inno" / "installer.iss"
# scripts/setup.sh installs the compiler there (npm package innosetup).
DEFAULT_ISCC = REPO / "build" / "tools" / "innosetup" / "node_modules" / "innosetup" / "bin" / "ISCC.exe"
# Setup's exit code when PrepareToInstall stops it.
PREPARE_TO_INSTALL_FAILED = 7
SILENT = ("/VERYSILENT", "/SUPPRESSMSGBOXES")
# Without a welcome page (Inno Setup 6's default) the wizard is titled with
# AppVerName, which defaults to "<AppName> version <AppVersion>".
WIZARD_TITLE = "Setup - Sample setup version 1.0"
# Two processes (the loader and the wizard's setup.tmp) start before the launcher.
SETUP_TIMEOUT = 90


@pytest.fixture(scope="session")
def iscc():
    if not machine_runs_32_bit_code():
        pytest.skip("this machine cannot run 32-bit code, and Inno Setup's compiler and "
                    "its setups are 32-bit only (the 32-bit lane runs these cases)")
    path = Path(os.environ.get("LAUNCHER_E2E_ISCC", DEFAULT_ISCC))
    assert path.is_file(), f"{path} is missing (scripts/setup.sh installs it)"
    return path


@pytest.fixture(scope="session")
def inno_installer(wine, programs, iscc, tmp_path_factory):
    if wine.arch == "win64":
        pytest.skip("Inno Setup's setups are 32-bit only, and the x86_64 build's folder ACL "
                    "recorder cannot go into them (the i686 build and the 32-bit lane run "
                    "these cases)")
    work = tmp_path_factory.mktemp("inno")
    # ISCC's own command line cannot carry a double quote in a /D value, so
    # the values go into a script that defines them and includes the sample.
    # The preprocessor's strings take no escapes; a quote is doubled.
    args = PROGRAM_ARGS.replace("'", "''")
    wrapper = work / "sample-setup.iss"
    wrapper.write_text(
        f'#define LAUNCHER "{windows_path(programs.launcher)}"\n'
        f'#define PROGRAM "{windows_path(programs.probe)}"\n'
        f"#define PROGRAM_ARGS '{args}'\n"
        f'#include "{windows_path(SCRIPT)}"\n', encoding="utf-8")
    build = wine.run(iscc, ["/Q", f"/O{windows_path(work)}", "/Fsample-setup",
                            windows_path(wrapper)],
                     wine.base_environment(), work, timeout=300, close_boxes=False)
    assert build.exit_code == 0, build.stdout + build.stderr[-3000:]
    installer = work / "sample-setup.exe"
    assert installer.is_file(), build.stdout
    print(f"Inno Setup installer built in {build.seconds:.2f} s")
    return installer


def test_include_refuses_a_64_bit_setup(wine, iscc, tmp_path):
    script = tmp_path / "x64-setup.iss"
    script.write_text(
        "[Setup]\nAppName=x64\nAppVersion=1\nDefaultDirName={tmp}\\x64\n"
        "SetupArchitecture=x64\n"
        f'#include "{windows_path(SCRIPT.parent / "launcher.iss")}"\n', encoding="utf-8")
    build = wine.run(iscc, ["/Q", f"/O{windows_path(tmp_path)}", windows_path(script)],
                     wine.base_environment(), tmp_path, timeout=300, close_boxes=False)
    assert build.exit_code != 0
    assert "launcher.iss works only in 32-bit setups" in build.stdout + build.stderr
    assert not list(tmp_path.glob("*.exe"))


def run_setup(launch, installer, *switches):
    """Runs setup; gives the outcome, setup's log and the folder it extracted
    the launcher and the program into, checked."""
    launch.timeout = SETUP_TIMEOUT
    log = launch.file("setup.log")
    log.unlink(missing_ok=True)
    # The wizard runs in <installer>.tmp, which the installer starts.
    outcome, folders = run_installer(launch, installer, *switches,
                                     f'/LOG="{launch.win("setup.log")}"',
                                     follow=[installer.stem + ".tmp"])
    text = log.read_bytes().decode("utf-8-sig", errors="replace") if log.exists() else ""
    return outcome, text, folders.launch_folder()


def test_silent_run_passes_the_arguments_exactly(launch, inno_installer):
    launch.answer_session_user()
    outcome, log, folder = run_setup(launch, inno_installer, *SILENT)
    assert outcome.exit_code == 0, log[-3000:]
    assert "The launcher returned 0." in log
    child = silent_launch_child(outcome, PROGRAM_TOKENS)
    assert child["shell_tokens"][0].lower() == folder.lower() + "\\program.exe"


def test_cancel_stops_setup_before_the_program(launch, inno_installer):
    launch.answer_cancel()
    outcome, log, _ = run_setup(launch, inno_installer, *SILENT)
    assert outcome.exit_code == PREPARE_TO_INSTALL_FAILED, log[-3000:]
    assert "The launcher returned 1223." in log
    outcome.assert_boxes()
    assert len(outcome.prompts) == 1
    assert outcome.logons == []
    assert outcome.probe == []


def test_programs_user_exit_stops_setup(launch, inno_installer):
    launch.answer_session_user()
    launch.probe_exit_code = 1602
    outcome, log, _ = run_setup(launch, inno_installer, *SILENT)
    assert outcome.exit_code == PREPARE_TO_INSTALL_FAILED, log[-3000:]
    assert "The launcher returned 1602." in log
    outcome.assert_boxes()
    assert len(outcome.probe) == 1


def test_failure_the_launcher_has_shown_stops_setup_and_is_logged(launch, inno_installer):
    launch.answer_session_user()
    launch.probe_exit_code = 5
    outcome, log, _ = run_setup(launch, inno_installer, *SILENT)
    assert outcome.exit_code == PREPARE_TO_INSTALL_FAILED, log[-3000:]
    outcome.assert_boxes("Error 5: failed to start downloader")
    assert "The launcher returned 1064." in log
    assert "The program could not be run (error 1064)." in log


class WizardClicker:
    """Presses Return on the wizard whenever it is shown: Install on the
    "Ready to Install" page, Finish on the last one."""

    def __init__(self, env):
        self.env = env
        self.stop = threading.Event()
        self.presses = 0
        self.thread = threading.Thread(target=self._run, daemon=True)

    def _xdotool(self, *args):
        return subprocess.run(["xdotool", *args], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, env=self.env, timeout=10)

    def _run(self):
        while not self.stop.wait(1.0):
            found = self._xdotool("search", "--onlyvisible", "--name",
                                  f"^{re.escape(WIZARD_TITLE)}$").stdout.split()
            for window in found:
                self._xdotool("key", "--window", window, "Return")
                # Release the key, or the next window takes it as held down.
                self._xdotool("keyup", "Return")
                self.presses += 1

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join(timeout=15)


def test_wizard_window_owns_the_dialog(launch, inno_installer):
    launch.answer_session_user()
    with WizardClicker(launch.wine.base_environment()) as clicker:
        outcome, log, _ = run_setup(launch, inno_installer)
    assert outcome.exit_code == 0, log[-3000:]
    assert clicker.presses >= 2
    [prompt] = outcome.prompts
    # The wizard runs in setup.tmp, a child of the installer that was started:
    # the id the launcher got is that process's, and its window owns the dialog.
    started = re.search(r"command line: execute (\d+) ", log)
    assert started, log[-3000:]
    wizard_pid = int(started.group(1))
    assert wizard_pid != outcome.started_process_id
    assert prompt["hwnd_parent"] != 0
    assert prompt["hwnd_parent_pid"] == wizard_pid
