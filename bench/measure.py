#!/usr/bin/env python3
"""Prints the launcher's measured cost, as medians of repeated runs under Wine.

    bench/run.sh            (builds what is needed, starts Xvfb and the prefix)

- launch cost: a full launch (the scripted dialog answers at once, the
  child exits at once) through timed_caller.exe, which behaves like the
  sample caller and times from its CreateProcessW to the end of its wait,
  against launch_floor.exe (the launcher's system calls and nothing else)
  and pass_through.exe (only starts the child and waits); and the time from
  the caller's CreateProcessW to the dialog, which the scripted dialog
  stamps with the same performance counter;
- the cost of rebuilding the child command line for growing inputs;
- the size of dist/launcher.exe beside a minimal static C++ program that
  throws and catches one exception.
"""
import argparse
import pathlib
import statistics
import subprocess
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from conftest import Launch, Programs  # noqa: E402
from wine_driver import Wine, join_command_line, windows_path  # noqa: E402


class QuietWine(Wine):
    """Runs without the message-box watcher: a successful launch shows no
    box, and the watcher's xdotool calls every 0.1 s would load the machine
    during the measurement."""

    def run(self, *args, **kwargs):
        kwargs["close_boxes"] = False
        return super().run(*args, **kwargs)


def read_record(path):
    return dict(line.split("=", 1) for line in path.read_text().splitlines() if "=" in line)


def launch_costs(build, launcher, runs):
    """Runs the launcher, the floor and the pass-through program in turn
    (the order rotates every round) through timed_caller.exe."""
    programs = Programs(
        wine_env=build / "wine-env.sh",
        launcher=launcher,
        sample_caller=build / "samples" / "sample_caller.exe",
        probe=build / "tests" / "support" / "probe_child" / "probe.exe",
        raw_starter=build / "tests" / "support" / "raw_starter" / "raw_starter.exe",
        logon_stand_in=build / "stand-ins" / "logon_stand_in.dll")
    caller = build / "bench" / "timed_caller.exe"
    contenders = {
        "launcher": launcher,
        "floor": build / "bench" / "launch_floor.exe",
        "pass_through": build / "bench" / "pass_through.exe",
    }
    wine = QuietWine(programs.wine_env)
    user = subprocess.run(["id", "-un"], capture_output=True, text=True, check=True).stdout.strip()
    launch, whole, dialog = ({name: [] for name in contenders} for _ in range(3))
    names = list(contenders)
    with tempfile.TemporaryDirectory(prefix="launch-bench-") as work:
        for i in range(runs):
            for name in names[i % 3:] + names[:i % 3]:
                scenario = Launch(wine, programs, pathlib.Path(work) / f"{name}{i}", user)
                scenario.answer_session_user()
                record = scenario.file("caller.txt")
                tokens = [windows_path(caller), windows_path(record),
                          windows_path(contenders[name]), windows_path(programs.probe)]
                outcome = scenario.start_raw(windows_path(caller), join_command_line(tokens))
                assert outcome.exit_code == 0, (name, outcome.exit_code, outcome.run.stderr[-2000:])
                times = read_record(record)
                frequency = int(times["frequency"])
                started = int(times["started"])
                launch[name].append((int(times["ended"]) - started) / frequency)
                whole[name].append(outcome.run.seconds)
                if name != "pass_through":
                    [prompt] = outcome.prompts
                    dialog[name].append((prompt["counter"] - started) / frequency)

    def ms(values):
        return f"{statistics.median(values) * 1000:8.1f} ms"

    def ratio(values, reference):
        return f"{statistics.median(values) / statistics.median(reference):8.2f}"

    print(f"Launch (median of {runs} interleaved runs each; launch: from the caller's "
          "CreateProcessW to the end of its wait)")
    print(f"  launch through the launcher:       {ms(launch['launcher'])}")
    print(f"  launch through launch_floor.exe:   {ms(launch['floor'])}")
    print(f"  launch through pass_through.exe:   {ms(launch['pass_through'])}")
    print(f"  launcher / floor:                  {ratio(launch['launcher'], launch['floor'])}"
          "     (aim: 1.05 or less)")
    paired = statistics.median(a / b for a, b in zip(launch["launcher"], launch["floor"]))
    print(f"  launcher / floor, round by round:  {paired:8.2f}     (median of each round's ratio)")
    print(f"  launcher / pass-through:           "
          f"{ratio(launch['launcher'], launch['pass_through'])}     (aim: 1.10 or less)")
    print(f"  time to the dialog, launcher:      {ms(dialog['launcher'])}")
    print(f"  time to the dialog, floor:         {ms(dialog['floor'])}")
    print(f"  launcher / floor, to the dialog:   {ratio(dialog['launcher'], dialog['floor'])}")
    print("  whole caller run (wall time, polled every 0.1 s):")
    for name in names:
        print(f"    {name + ':':32s} {ms(whole[name])}")
    print(f"    launcher / floor:                {ratio(whole['launcher'], whole['floor'])}")
    print(f"    launcher / pass-through:         "
          f"{ratio(whole['launcher'], whole['pass_through'])}")


def command_line_cost(build):
    wine = Wine(build / "wine-env.sh")
    with tempfile.TemporaryDirectory(prefix="cmdline-bench-") as work:
        env = wine.base_environment()
        env["WINEDEBUG"] = "-all"
        run = wine.run(build / "bench" / "command_line_bench.exe", [], env, work,
                       close_boxes=False, timeout=300)
    assert run.exit_code == 0 and run.stdout.strip(), (run.exit_code, run.stderr[-2000:])
    print("Child command line (median of 21 runs per input)")
    print("  " + run.stdout.strip().replace("\n", "\n  "))


def sizes(dist):
    with tempfile.TemporaryDirectory(prefix="size-bench-") as work:
        minimal = pathlib.Path(work) / "minimal_throw.exe"
        subprocess.run(["i686-w64-mingw32-g++-posix", "-O2", "-static", "-s",
                        str(REPO / "bench" / "minimal_throw.cpp"), "-o", str(minimal)], check=True)
        minimal_size = minimal.stat().st_size
    launcher_size = (dist / "launcher.exe").stat().st_size
    print("Size (i686, static, stripped)")
    print(f"  dist/launcher.exe:         {launcher_size / 1024:8.1f} KiB  (aim: about 300 KiB)")
    print(f"  minimal throw-and-catch:   {minimal_size / 1024:8.1f} KiB")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", type=pathlib.Path, required=True,
                        help="the Wine-runnable test build folder")
    parser.add_argument("--dist", type=pathlib.Path, default=REPO / "dist")
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("--launcher", type=pathlib.Path,
                        help="the launcher to measure (default: the build's)")
    parser.add_argument("--only-launch", action="store_true",
                        help="measure the launch only")
    args = parser.parse_args()
    build = args.build.resolve()
    if not args.only_launch:
        sizes(args.dist.resolve())
        print()
        command_line_cost(build)
        print()
    launcher = args.launcher.resolve() if args.launcher else build / "launcher.exe"
    print(f"Launcher measured: {launcher}")
    launch_costs(build, launcher, args.runs)


if __name__ == "__main__":
    main()
