"""The Windows Installer sample, built with wixl from the package source and
the custom-action DLL as they ship, drives the launcher through msiexec:
arguments, cancel, the program's user exit, a failure, and the owner of the
dialog under a user interface. Every installation checks the folder the
custom action extracted the launcher and the program into (folder_acl.py),
with the recorder in the custom-action server too."""

import json
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from folder_acl import FolderRecorder, assert_readable_by_other_accounts
# Arguments with quotes are set as the property's exact value by a front end.
from installer_cases import PROGRAM_ARGS as QUOTED_ARGS
from installer_cases import PROGRAM_TOKENS as QUOTED_TOKENS
from installer_cases import silent_launch_child
from wine_driver import build_file, windows_path

SOURCE = Path(__file__).resolve().parents[2] / "samples" / "msi" / "installer.wxs"
USER_EXIT = 1602  # ERROR_INSTALL_USEREXIT
INSTALL_FAILURE = 1603  # ERROR_INSTALL_FAILURE
UNKNOWN_PRODUCT = 1605  # ERROR_UNKNOWN_PRODUCT
# Arguments as msiexec's command line sets PROGRAM_ARGS under Wine (whose
# msiexec drops doubled quotes inside a value), and as the program must get them.
COMMAND_LINE_ARGS = r"/quiet C:\Some\file.txt --level=3"
COMMAND_LINE_TOKENS = ["/quiet", r"C:\Some\file.txt", "--level=3"]


@pytest.fixture(scope="session")
def package(wine, programs, tmp_path_factory):
    """The sample package, with the probe as its program. wixl finds the files
    it embeds by paths relative to where it runs."""
    wixl = shutil.which("wixl")
    assert wixl, "wixl is missing (scripts/setup.sh installs it)"
    work = tmp_path_factory.mktemp("msi")
    custom_action = build_file("LAUNCHER_E2E_MSI_CUSTOM_ACTION",
                               "samples/run_as_administrator.dll")
    for source, name in ((programs.launcher, "launcher.exe"), (programs.probe, "probe.exe"),
                         (custom_action, "run_as_administrator.dll")):
        shutil.copyfile(source, work / name)
    # A 64-bit build's custom action runs only in a 64-bit package.
    arch = ["-a", "x64"] if wine.arch == "win64" else []
    started = time.monotonic()
    build = subprocess.run(
        [wixl, *arch, "-D", "LAUNCHER=launcher.exe", "-D", "PROGRAM=probe.exe",
         "-D", "CUSTOM_ACTION=run_as_administrator.dll", "-o", "sample.msi", str(SOURCE)],
        cwd=work, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    assert build.returncode == 0, build.stdout + build.stderr
    print(f"package built by wixl in {time.monotonic() - started:.2f} s")
    return work / "sample.msi"


@pytest.fixture(scope="session")
def msi_host():
    path = build_file("LAUNCHER_E2E_MSI_HOST", "tests/support/msi_host/msi_host.exe")
    assert path.is_file(), f"missing build output {path}"
    return path


@pytest.fixture(scope="session")
def msi_action_host():
    path = build_file("LAUNCHER_E2E_MSI_ACTION_HOST", "tests/support/msi_host/msi_action_host.exe")
    assert path.is_file(), f"missing build output {path}"
    return path


def read_log(path):
    data = path.read_bytes()
    return data.decode("utf-16") if data.startswith(b"\xff\xfe") else data.decode("utf-8", "replace")


def record_folders(launch):
    """The folder ACL recorder in the installing process and in the
    custom-action server (msiexec.exe) that it starts."""
    return FolderRecorder(launch, follow=["msiexec.exe"])


def run_msiexec(launch, *arguments):
    # The caption must come from the package, not from the test's environment.
    launch.caption = None
    msiexec = windows_path(launch.wine.system32 / "msiexec.exe")
    return launch.start_raw(msiexec, " ".join(["msiexec", *arguments]))


def install(launch, package, program_args=None):
    """Installs silently with msiexec; gives the outcome, the log and the
    recorder."""
    arguments = ["/i", f'"{windows_path(package)}"', "/qn", "/l*v", f'"{launch.win("install.log")}"']
    if program_args is not None:
        arguments.append(f'PROGRAM_ARGS="{program_args}"')
    folders = record_folders(launch)
    outcome = run_msiexec(launch, *arguments)
    return outcome, read_log(launch.file("install.log")), folders


def through_front_end(launch, package, msi_host, ui, program_args=""):
    launch.caption = None
    launch.file("program_args.txt").write_bytes(program_args.encode("utf-8"))
    line = " ".join(f'"{part}"' for part in (
        windows_path(msi_host), windows_path(package), launch.win("program_args.txt"), ui,
        launch.win("install.log")))
    folders = record_folders(launch)
    outcome = launch.start_raw(windows_path(msi_host), line)
    return outcome, read_log(launch.file("install.log")), folders


@pytest.fixture
def removal(launch, package):
    """Removes the product after a test that may have installed it, so that
    the next installation runs the custom action again."""
    yield
    outcome = run_msiexec(launch, "/x", f'"{windows_path(package)}"', "/qn")
    assert outcome.exit_code in (0, UNKNOWN_PRODUCT), outcome.run.stderr[-2000:]


def test_silent_installation_passes_the_arguments(launch, package, removal):
    launch.answer_session_user()
    outcome, log, folders = install(launch, package, COMMAND_LINE_ARGS)
    assert outcome.exit_code == 0, log[-3000:]
    child = silent_launch_child(outcome, COMMAND_LINE_TOKENS)
    # The program ran from the action's folder, which is gone again.
    folder = folders.launch_folder()
    assert child["shell_tokens"][0].lower() == folder.lower() + "\\program.exe"
    assert f'{folder}\\launcher.exe execute 0 "' in log, log[-3000:]
    assert "the launcher ended with exit code 0" in log


def test_quotes_in_the_arguments_survive(launch, package, msi_host, removal):
    launch.answer_session_user()
    outcome, log, folders = through_front_end(launch, package, msi_host, "none", QUOTED_ARGS)
    assert outcome.exit_code == 0, log[-3000:]
    folders.launch_folder()
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == QUOTED_TOKENS, child["command_line"]
    assert child["runtime_argv"][1:] == QUOTED_TOKENS, child["command_line"]


@pytest.mark.parametrize("ending", ["cancel", "program_user_exit"])
def test_user_exit_ends_the_installation(launch, package, ending):
    if ending == "cancel":
        launch.answer_cancel()
        launcher_exit = 1223
    else:
        launch.answer_session_user()
        launch.probe_exit_code = launcher_exit = USER_EXIT
    outcome, log, folders = install(launch, package)
    assert outcome.exit_code == USER_EXIT, log[-3000:]
    folders.launch_folder()
    outcome.assert_boxes()
    assert len(outcome.probe) == len(outcome.logons) == (0 if ending == "cancel" else 1)
    assert f"the launcher ended with exit code {launcher_exit}" in log


def test_failure_the_launcher_has_shown_fails_the_installation(launch, package):
    launch.answer_session_user()
    launch.probe_exit_code = 5
    outcome, log, folders = install(launch, package)
    assert outcome.exit_code == INSTALL_FAILURE, log[-3000:]
    folders.launch_folder()
    outcome.assert_boxes("Error 5: failed to start downloader")
    assert "the launcher ended with exit code 1064" in log


def install_with_user_interface(launch, package, msi_host, installer):
    if installer == "msiexec":
        arguments = ["/i", f'"{windows_path(package)}"', "/qf", "/l*v",
                     f'"{launch.win("install.log")}"']
        folders = record_folders(launch)
        outcome = run_msiexec(launch, *arguments)
        return outcome, read_log(launch.file("install.log")), folders
    return through_front_end(launch, package, msi_host, "full")


@pytest.mark.parametrize("installer", ["msiexec", "front_end"])
def test_installers_window_owns_the_dialog(launch, package, msi_host, installer):
    launch.answer_cancel()
    outcome, log, folders = install_with_user_interface(launch, package, msi_host, installer)
    assert outcome.exit_code == USER_EXIT, log[-3000:]
    folders.launch_folder()
    # The action names the process that shows the installer's user interface.
    assert f"launcher.exe execute {outcome.started_process_id} " in log, log[-3000:]
    [prompt] = outcome.prompts
    if installer == "msiexec":
        # A package built with wixl has no dialogs, and Wine's msiexec shows no
        # window of its own: the launcher finds no window to own the dialog.
        assert prompt["hwnd_parent"] == 0
        return
    window = int(re.search(r"^window=(\d+)$", outcome.run.stdout, re.M).group(1))
    assert prompt["hwnd_parent"] == window
    assert prompt["hwnd_parent_pid"] == outcome.started_process_id


def run_action(wine, msi_action_host, package, work, *options):
    """The custom action called on the package in a host process, its folder
    and launch recorded at the DLL's imports, the launch refused (5)."""
    custom_action = build_file("LAUNCHER_E2E_MSI_CUSTOM_ACTION", "samples/run_as_administrator.dll")
    run = wine.run(msi_action_host, [windows_path(custom_action), windows_path(package), *options],
                   wine.base_environment(), work, close_boxes=False)
    assert run.exit_code == 0, run.stdout + run.stderr[-2000:]
    records = [json.loads(line) for line in run.stdout.splitlines() if line.startswith("{")]
    [action] = [r for r in records if r["event"] == "action"]
    # The refused launch fails the action, and the folder is gone with it.
    assert action["result"] == INSTALL_FAILURE, records
    assert not action["folder_left"], records
    return records


def assert_launched_from(record, folder):
    assert record["application"].lower() == folder.lower() + "\\launcher.exe", record
    assert record["command_line"].lower().startswith(
        f'execute 0 "{folder.lower()}\\program.exe"'), record
    assert sorted(name.lower() for name in record["files"]) == ["launcher.exe", "program.exe"]


def test_action_extracts_into_a_folder_other_accounts_can_read(wine, msi_action_host, package,
                                                              tmp_path):
    records = run_action(wine, msi_action_host, package, tmp_path)
    [made] = [r for r in records if r["event"] == "create_directory"]
    assert made["result"], records
    # The action names the folder's owner by OWNER RIGHTS, not by a SID.
    assert_readable_by_other_accounts(made["security_descriptor"], user_sid=None)
    [launch] = [r for r in records if r["event"] == "create_process"]
    assert_launched_from(launch, made["path"])


def test_action_never_uses_a_folder_it_did_not_create(wine, msi_action_host, package, tmp_path):
    records = run_action(wine, msi_action_host, package, tmp_path, "refuse-first-folder")
    folders = [r for r in records if r["event"] == "create_directory"]
    assert len(folders) == 2, records
    taken, made = folders
    assert (taken["result"], taken["error"]) == (False, 183), records
    assert made["result"] and made["path"].lower() != taken["path"].lower(), records
    assert made["security_descriptor"] == taken["security_descriptor"]
    [launch] = [r for r in records if r["event"] == "create_process"]
    assert_launched_from(launch, made["path"])
