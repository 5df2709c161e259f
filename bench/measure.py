#!/usr/bin/env python3
"""Prints the launcher's measured cost, as medians of repeated runs under Wine.

    bench/run.sh            (builds what is needed, starts Xvfb and the prefix)

- launch overhead: a full launch through the sample caller (the scripted
  dialog answers at once, the child exits at once) against the same caller
  starting pass_through.exe, which only starts the child and waits;
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


def launch_overhead(build, runs):
    programs = Programs(
        wine_env=build / "wine-env.sh",
        launcher=build / "launcher.exe",
        sample_caller=build / "samples" / "sample_caller.exe",
        probe=build / "tests" / "support" / "probe_child" / "probe.exe",
        raw_starter=build / "tests" / "support" / "raw_starter" / "raw_starter.exe",
        logon_stand_in=build / "stand-ins" / "logon_stand_in.dll")
    pass_through = build / "bench" / "pass_through.exe"
    wine = Wine(programs.wine_env)
    user = subprocess.run(["id", "-un"], capture_output=True, text=True, check=True).stdout.strip()
    launcher_times, pass_through_times = [], []
    with tempfile.TemporaryDirectory(prefix="launch-bench-") as work:
        for i in range(runs):
            # Alternate the two, so that drift in the machine's load hits both.
            scenario = Launch(wine, programs, pathlib.Path(work) / f"l{i}", user)
            scenario.answer_session_user()
            outcome = scenario.through_sample_caller(windows_path(programs.probe))
            assert outcome.exit_code == 0, outcome.run.stderr[-2000:]
            launcher_times.append(outcome.run.seconds)

            reference = Launch(wine, programs, pathlib.Path(work) / f"p{i}", user)
            tokens = [windows_path(programs.sample_caller), windows_path(pass_through),
                      windows_path(programs.probe)]
            outcome = reference.start_raw(windows_path(programs.sample_caller),
                                          join_command_line(tokens))
            assert outcome.exit_code == 0, outcome.run.stderr[-2000:]
            pass_through_times.append(outcome.run.seconds)
    launcher_median = statistics.median(launcher_times)
    reference_median = statistics.median(pass_through_times)
    print(f"Launch overhead (median of {runs} runs each, wall time of the whole caller run)")
    print(f"  through the launcher:      {launcher_median * 1000:8.0f} ms")
    print(f"  through pass_through.exe:  {reference_median * 1000:8.0f} ms")
    print(f"  ratio:                     {launcher_median / reference_median:8.2f}  (aim: 1.10 or less)")


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
    args = parser.parse_args()
    build = args.build.resolve()
    sizes(args.dist.resolve())
    print()
    command_line_cost(build)
    print()
    launch_overhead(build, args.runs)


if __name__ == "__main__":
    main()
