"""Fixtures of the end-to-end tests: the launcher executable run under Wine
in the build's private prefix, with the scripted credential dialog, the
logon stand-in and the probe child.

ctest passes the build's file locations in LAUNCHER_E2E_* variables and runs
the suite after the prefix fixture and under Xvfb. By hand, with the prefix
started on the same display as the suite (Wine's desktop process keeps the
display it was started with, and boxes shown on a later one fail):
    LAUNCHER_E2E_BUILD_DIR=$PWD/build/<name> xvfb-run -a sh -c \
        'build/<name>/wine-prefix.sh start && python3 -m pytest tests/e2e'
    build/<name>/wine-prefix.sh stop
"""

import filecmp
import os
import pwd
import re
import shutil
import sys
from dataclasses import dataclass
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))

from records import read_credui_log, read_json_lines  # noqa: E402
from support_programs import SupportPrograms  # noqa: E402
from wine_driver import Wine, WineRun, build_file, join_command_line, windows_path  # noqa: E402

DEFAULT_CAPTION = "Sign in to continue"


@dataclass
class Programs:
    wine_env: Path
    launcher: Path
    sample_caller: Path
    probe: Path
    raw_starter: Path
    logon_stand_in: Path
    consent_stand_in: Path


@pytest.fixture(scope="session")
def programs():
    found = Programs(
        wine_env=build_file("LAUNCHER_E2E_WINE_ENV", "wine-env.sh"),
        launcher=build_file("LAUNCHER_E2E_LAUNCHER", "launcher.exe"),
        sample_caller=build_file("LAUNCHER_E2E_SAMPLE_CALLER", "samples/sample_caller.exe"),
        probe=build_file("LAUNCHER_E2E_PROBE", "tests/support/probe_child/probe.exe"),
        raw_starter=build_file("LAUNCHER_E2E_RAW_STARTER",
                                "tests/support/raw_starter/raw_starter.exe"),
        logon_stand_in=build_file("LAUNCHER_E2E_LOGON_STAND_IN",
                                   "stand-ins/logon_stand_in.dll"),
        consent_stand_in=build_file("LAUNCHER_E2E_CONSENT_STAND_IN",
                                     "stand-ins/consent_stand_in.dll"))
    for path in vars(found).values():
        assert path.is_file(), f"missing build output {path}"
    return found


@pytest.fixture(scope="session")
def wine(programs):
    if not os.environ.get("DISPLAY"):
        pytest.exit("no DISPLAY: run under xvfb-run", returncode=2)
    wine = Wine(programs.wine_env)
    assert (Path(wine.prefix) / ".launcher-prefix-ready").is_file(), \
        f"Wine prefix {wine.prefix} is not set up (wine-prefix.sh start)"
    # The scripted dialog must be the one in system32, as the prefix set-up leaves it.
    stand_in = Path(wine.stand_ins) / "credui.dll"
    installed = wine.system32 / "credui.dll"
    if not installed.exists() or not filecmp.cmp(stand_in, installed, shallow=False):
        shutil.copyfile(stand_in, installed)
    return wine


@pytest.fixture(scope="session")
def session_user():
    """The Unix user, whom Wine's account database holds as an administrator."""
    return pwd.getpwuid(os.getuid()).pw_name


@dataclass
class Outcome:
    exit_code: int
    started_process_id: int
    run: WineRun
    credui: list
    logon_records: list
    probe: list
    consent_records: list

    @property
    def boxes(self):
        return self.run.box_texts

    @property
    def prompts(self):
        return [e for e in self.credui if e["event"] == "prompt"]

    @property
    def logons(self):
        return [r for r in self.logon_records if r.get("event") == "logon"]

    @property
    def consents(self):
        """The elevated starts that the consent stand-in was asked for."""
        return [r for r in self.consent_records if r.get("event") == "consent"]

    @property
    def waits(self):
        return [r for r in self.logon_records if r.get("event") == "wait"]

    def events(self, name):
        return [e for e in self.credui if e["event"] == name]

    def assert_boxes(self, *texts):
        """Exactly these message boxes, in this order, each titled "Error"."""
        assert self.run.box_texts == list(texts), self.run.stderr[-3000:]
        assert self.run.box_titles == ["Error"] * len(texts)


class Launch:
    """One scenario: scripts for the dialog and the logon, the environment,
    and runs of the launcher through the raw starter or the sample caller."""

    def __init__(self, wine, programs, work_dir, user):
        self.wine = wine
        self.programs = programs
        self.dir = Path(work_dir)
        self.user = user
        self.answers = []
        self.logon_script = [f"account {user}\t*\tPw1"]
        self.consent_script = []
        self.caption = DEFAULT_CAPTION
        self.empty_password_message = None
        self.probe_exit_code = None
        self.dll_overrides = None
        self.extra_env = {}
        self.starter_options = []
        self.timeout = 40

    # --- scripts -------------------------------------------------------
    def answer(self, line):
        self.answers.append(line)
        return self

    def answer_credentials(self, user, domain, password):
        return self.answer(f"credentials {user}\t{domain}\t{password}")

    def answer_session_user(self, password="Pw1", domain=""):
        return self.answer_credentials(self.user, domain, password)

    def answer_cancel(self):
        return self.answer("cancel")

    # --- files ---------------------------------------------------------
    def file(self, name):
        return self.dir / name

    def win(self, name):
        return windows_path(self.file(name))

    def _prepare(self):
        self.dir.mkdir(parents=True, exist_ok=True)
        for log in ("credui.log", "logon.log", "probe.log", "consent.log"):
            self.file(log).unlink(missing_ok=True)
        self.file("credui.script").write_text(
            "".join(line + "\n" for line in self.answers), encoding="utf-8")
        self.file("logon.script").write_text(
            "".join(line + "\n" for line in self.logon_script), encoding="utf-8")
        self.file("consent.script").write_text(
            "".join(line + "\n" for line in self.consent_script), encoding="utf-8")
        env = self.wine.base_environment()
        env.update({
            "STAND_IN_CREDUI_SCRIPT": self.win("credui.script"),
            "STAND_IN_CREDUI_LOG": self.win("credui.log"),
            "STAND_IN_LOGON_DLL": windows_path(self.programs.logon_stand_in),
            "STAND_IN_LOGON_SCRIPT": self.win("logon.script"),
            "STAND_IN_LOGON_LOG": self.win("logon.log"),
            "STAND_IN_CONSENT_DLL": windows_path(self.programs.consent_stand_in),
            "STAND_IN_CONSENT_SCRIPT": self.win("consent.script"),
            "STAND_IN_CONSENT_LOG": self.win("consent.log"),
            "PROBE_LOG": self.win("probe.log"),
        })
        if self.caption is not None:
            env["AuthDialogCaption"] = self.caption
        if self.empty_password_message is not None:
            env["EmptyPasswordRestrictionMessage"] = self.empty_password_message
        if self.probe_exit_code is not None:
            env["PROBE_EXIT_CODE"] = str(self.probe_exit_code)
        if self.dll_overrides is not None:
            env["WINEDLLOVERRIDES"] = self.dll_overrides
        env.update(self.extra_env)
        return env

    # --- runs ----------------------------------------------------------
    def start_raw(self, application, command_line):
        """Starts `application` (None: no application name) with exactly
        `command_line`, through the raw starter, and collects the records."""
        started = self.begin_raw(application, command_line)
        [run] = self.wine.wait([started], timeout=self.timeout)
        return self.outcome(run)

    def begin_raw(self, application, command_line):
        """Like start_raw, but returns the running starter at once; the
        caller waits for it (Wine.wait) and reads the records (outcome)."""
        env = self._prepare()
        request = self.file("request.txt")
        app = "" if application is None else str(application)
        request.write_bytes((app + "\n" + command_line).encode("utf-8"))
        return self.wine.start(self.programs.raw_starter, [windows_path(request), *self.starter_options], env, self.dir)

    def outcome(self, run):
        exit_match = re.search(r"^exit_code=(\d+)$", run.stdout, re.M)
        assert exit_match, f"raw starter failed: {run.stdout!r} {run.stderr[-2000:]!r}"
        pid_match = re.search(r"^process_id=(\d+)$", run.stdout, re.M)
        return Outcome(
            exit_code=int(exit_match.group(1)),
            started_process_id=int(pid_match.group(1)),
            run=run,
            credui=read_credui_log(self.file("credui.log")),
            logon_records=read_json_lines(self.file("logon.log")),
            probe=read_json_lines(self.file("probe.log")),
            consent_records=read_json_lines(self.file("consent.log")))

    def launcher_tokens(self, tokens):
        """Runs the launcher with these tokens (token 0 first) as its command line."""
        return self.start_raw(windows_path(self.programs.launcher), join_command_line(tokens))

    def execute(self, program, *args, owner="0"):
        """Runs the launcher as a caller should: execute, owner, program, args."""
        return self.launcher_tokens(["execute", owner, program, *args])

    def execute_probe(self, *args, owner="0", probe=None):
        return self.execute(windows_path(probe or self.programs.probe), *args, owner=owner)

    def through_sample_caller(self, program, *args, begin_only=False, launcher=None):
        tokens = [windows_path(self.programs.sample_caller),
                  windows_path(launcher or self.programs.launcher), program, *args]
        start = self.begin_raw if begin_only else self.start_raw
        return start(windows_path(self.programs.sample_caller), join_command_line(tokens))


@pytest.fixture(scope="session")
def support():
    """The test programs beyond the ones every scenario needs."""
    return SupportPrograms.find()


@pytest.fixture
def launch(wine, programs, tmp_path, session_user):
    return Launch(wine, programs, tmp_path, session_user)


@pytest.fixture(scope="session")
def computer_name(wine, programs, tmp_path_factory):
    """The computer name as Windows programs see it (the domain of local accounts)."""
    work = tmp_path_factory.mktemp("computer")
    env = wine.base_environment()
    env["PROBE_LOG"] = windows_path(work / "probe.log")
    run = wine.run(programs.probe, [], env, work, close_boxes=False)
    assert run.exit_code == 0, run.stderr[-2000:]
    [record] = read_json_lines(work / "probe.log")
    assert record["computer"]
    return record["computer"]
