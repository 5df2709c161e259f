"""Runs Windows programs of the build under Wine without hanging.

Wine's output goes to files (its service processes may inherit and hold
pipes), every wait has a time-out, and message boxes titled "Error" are
closed with xdotool while their texts are read from Wine's msgbox trace.
"""

import os
import re
import signal
import subprocess
import time
from dataclasses import dataclass, field
from pathlib import Path

BOX_TITLE = "Error"
_MSGBOX_TRACE = re.compile(r'trace:msgbox:MSGBOX_OnInit L"(.*)"\s*$')


def build_file(variable, relative):
    """A file of the build: named by `variable`, else found under the build folder."""
    if os.environ.get(variable):
        return Path(os.environ[variable])
    build_dir = os.environ.get("LAUNCHER_E2E_BUILD_DIR")
    if not build_dir:
        import pytest

        pytest.exit("LAUNCHER_E2E_BUILD_DIR is not set (ctest sets it)", returncode=2)
    return Path(build_dir) / relative


def windows_path(path):
    """The path as a Windows program sees it through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def quote_token(token):
    """Quotes one token so that CommandLineToArgvW gives it back unchanged."""
    if token and not any(c in token for c in ' \t\n\v"'):
        return token
    quoted = '"'
    backslashes = 0
    for c in token:
        if c == "\\":
            backslashes += 1
            continue
        quoted += "\\" * (backslashes * 2 + 1 if c == '"' else backslashes) + c
        backslashes = 0
    return quoted + "\\" * (backslashes * 2) + '"'


def join_command_line(tokens):
    return " ".join(quote_token(t) for t in tokens)


def decode_wine_debugstr(text):
    """Undoes the escapes of Wine's debugstr_w."""
    out = []
    i = 0
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
                continue
            if re.fullmatch(r"[0-9a-fA-F]{4}", text[i + 1:i + 5]):
                out.append(chr(int(text[i + 1:i + 5], 16)))
                i += 5
                continue
        out.append(c)
        i += 1
    return "".join(out)


def message_box_texts(stderr_text):
    texts = []
    for line in stderr_text.splitlines():
        match = _MSGBOX_TRACE.search(line)
        if match:
            texts.append(decode_wine_debugstr(match.group(1)))
    return texts


@dataclass
class WineRun:
    exit_code: int  # as the Unix process ended (low 8 bits of a Windows code)
    stdout: str
    stderr: str
    box_titles: list = field(default_factory=list)  # titles of the boxes that were closed
    box_texts: list = field(default_factory=list)  # from the msgbox trace
    seconds: float = 0.0


class WineTimeout(AssertionError):
    pass


class Wine:
    """One private prefix of the build, as its wine-env.sh describes it."""

    def __init__(self, wine_env_file):
        values = subprocess.run(
            ["sh", "-c",
             '. "$0" && printf "%s\\n" "$WINEPREFIX" "$WINEARCH" "$LAUNCHER_WINE" '
             '"$LAUNCHER_WINESERVER" "$LAUNCHER_STAND_INS"',
             str(wine_env_file)],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30,
            check=True).stdout.splitlines()
        self.prefix, self.arch, self.wine, self.wineserver, self.stand_ins = values[:5]
        self.system32 = Path(self.prefix) / "drive_c" / "windows" / "system32"

    def base_environment(self):
        env = dict(os.environ)
        # Only what a test sets explicitly reaches the programs.
        for name in list(env):
            if name in ("AuthDialogCaption", "EmptyPasswordRestrictionMessage") or \
                    name.startswith(("STAND_IN_", "PROBE_")):
                del env[name]
        # More channels (the heap check adds warn+heap) come from LAUNCHER_E2E_WINEDEBUG.
        channels = ",".join(filter(None, ["-all,trace+msgbox",
                                          os.environ.get("LAUNCHER_E2E_WINEDEBUG")]))
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": self.arch,
            "WINEDEBUG": channels,
            "WINEDLLOVERRIDES": "credui=n;mscoree,mshtml=",
        })
        return env

    def start(self, program, args, env, work_dir):
        """Starts `wine program args...` without waiting; see wait()."""
        return WineProcess(self.wine, program, args, env, work_dir)

    def wait(self, processes, timeout=40, close_boxes=True):
        """Waits for all the processes, closing every "Error" box on the way
        (each box counts for the process that showed it), and gives their runs."""
        started = time.monotonic()
        env = processes[0].env
        handled = {}
        try:
            while any(p.poll() is None for p in processes):
                if time.monotonic() - started > timeout:
                    late = [p.program.name for p in processes if p.poll() is None]
                    raise WineTimeout(
                        f"{', '.join(late)} did not end within {timeout} s\n" +
                        self.describe_screen(env) + "\n" +
                        "\n".join(_tail(p.err_path) for p in processes))
                if close_boxes:
                    self._close_boxes(env, handled, processes)
                time.sleep(0.1)
        finally:
            for p in processes:
                p.kill()
        return [p.result() for p in processes]

    def run(self, program, args, env, work_dir, timeout=40, close_boxes=True):
        """Runs `wine program args...`, closing every "Error" box on the way."""
        return self.wait([self.start(program, args, env, work_dir)], timeout, close_boxes)[0]

    @staticmethod
    def _xdotool(env, *args):
        return subprocess.run(["xdotool", *args], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, env=env, timeout=10)

    def describe_screen(self, env):
        """The visible windows, each with its title and the program that owns it."""
        lines = ["visible windows (X id, owner, title):"]
        for window in self._xdotool(env, "search", "--onlyvisible", "--name", "").stdout.split():
            title = self._xdotool(env, "getwindowname", window).stdout.rstrip("\n")
            pid = self._xdotool(env, "getwindowpid", window).stdout.strip()
            lines.append(f"  {window} {_program_of(pid)} {title!r}")
        return "\n".join(lines)

    def _close_boxes(self, env, handled, processes):
        # Only mapped boxes: a key sent to a box that is not shown yet is lost.
        found = self._xdotool(env, "search", "--onlyvisible", "--name",
                              f"^{BOX_TITLE}$").stdout.split()
        now = time.monotonic()
        # X reuses the ids of a program that has ended for the next one, so
        # a box is known by its id and its process.
        boxes = [(window, self._xdotool(env, "getwindowpid", window).stdout.strip())
                 for window in found]
        for box in list(handled):
            if box not in boxes:
                del handled[box]
        for box in boxes:
            window, pid = box
            # A box that is still there a second after its key press gets another one.
            if box in handled and now - handled[box] < 1.0:
                continue
            if box not in handled:
                title = self._xdotool(env, "getwindowname", window).stdout.rstrip("\n")
                _owner_among(processes, pid).box_titles.append(title)
            handled[box] = now
            # Keys go to Wine's foreground window, and another program's
            # window may have taken that place: the input focus makes the box
            # the foreground window again (the prefix sets UseTakeFocus=N).
            self._xdotool(env, "windowfocus", window)
            self._xdotool(env, "key", "--window", window, "Return")
            # The press closes the box before its release arrives: release
            # the key, or the next box closes unseen.
            self._xdotool(env, "keyup", "Return")


class WineProcess:
    """A program started under Wine in its own session, its output going to files."""

    def __init__(self, wine, program, args, env, work_dir):
        self.program = Path(program)
        self.env = env
        work_dir = Path(work_dir)
        work_dir.mkdir(parents=True, exist_ok=True)
        stamp = time.monotonic_ns()
        self.out_path = work_dir / f"wine-{stamp}.out"
        self.err_path = work_dir / f"wine-{stamp}.err"
        self.box_titles = []
        self.started = time.monotonic()
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(
                [wine, str(program), *args], stdin=subprocess.DEVNULL, stdout=out,
                stderr=err, env=env, cwd=str(work_dir), start_new_session=True)
        self.ended = None

    def poll(self):
        code = self.process.poll()
        if code is not None and self.ended is None:
            self.ended = time.monotonic()
        return code

    def stdout(self):
        return self.out_path.read_text(encoding="utf-8", errors="replace")

    def kill(self):
        """Ends the program and everything it started, if it still runs."""
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait(timeout=10)
        self.poll()

    def result(self):
        stderr = self.err_path.read_text(encoding="utf-8", errors="replace")
        return WineRun(
            exit_code=self.process.returncode,
            stdout=self.stdout(),
            stderr=stderr,
            box_titles=self.box_titles,
            box_texts=message_box_texts(stderr),
            seconds=(self.ended or time.monotonic()) - self.started)


def _owner_among(processes, pid):
    """The process whose session the Unix process `pid` belongs to (Wine's
    programs stay in the session of the program that started them)."""
    try:
        # The session id is the sixth field, after the parenthesised name.
        session = int(Path(f"/proc/{int(pid)}/stat").read_text().rsplit(")", 1)[1].split()[3])
    except (ValueError, OSError, IndexError):
        session = None
    for p in processes:
        if p.process.pid == session:
            return p
    return processes[0]


def _program_of(pid):
    """The command line of a Unix process (for Wine: the Windows program), or "?"."""
    try:
        return Path(f"/proc/{int(pid)}/cmdline").read_bytes().replace(b"\0", b" ").decode(
            errors="replace").strip()
    except (ValueError, OSError):
        return "?"


def _tail(path, lines=40):
    text = Path(path).read_text(encoding="utf-8", errors="replace").splitlines()
    return "Wine's stderr, last lines:\n" + "\n".join(text[-lines:])
