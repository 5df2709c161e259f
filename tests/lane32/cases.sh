#!/bin/sh
# The 32-bit cases: what we ship, run as it ships, under 32-bit Wine. Runs
# in the emulated machine (scripts/lane32/run.sh) on machines that cannot
# execute 32-bit code, and on the machine itself where they can; the i686
# test build (build/tests-i686) and dist/ must be built first, on the host
# (scripts/test_32_bit_lane.sh does all of that).
#
# One Xvfb and one wineserver serve the whole job, and the prefix is made
# once. Prints one line per phase with its time, and
# "32-bit lane: N passed, M failed" at the end; exits non-zero when a case
# failed.
#
#   tests/lane32/cases.sh                  every case
#   tests/lane32/cases.sh PYTEST_ARGS...   only these end-to-end cases, e.g.
#       tests/e2e/test_inno_installer.py -k cancel
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$repo/build/tests-i686
dist=$repo/dist
results=$repo/build/lane32-results
rm -rf "$results"
mkdir -p "$results"

now() { date +%s; }
job_started=$(now)
phase_started=$job_started
phase() {
    echo "32-bit lane: $1 ($(($(now) - phase_started)) s)"
    phase_started=$(now)
}

# Wine's own service processes and the X server end with the job.
xvfb_pid=""
cleanup() {
    timeout 60 "$build/wine-prefix.sh" stop >/dev/null 2>&1 || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

. "$build/wine-env.sh"
if [ -n "${LANE32_EMULATED:-}" ]; then
    # In the emulated machine this folder is shared with the host over 9p,
    # and Wine maps programs from there wrongly: a test program run from the
    # share executed zeros where its entry code was, the same file copied to
    # /tmp ran. So what Wine runs, and the prefix, are copied onto the
    # machine's own memory and mounted over the same paths.
    for folder in "$build" "$dist" "$repo/build/tools/innosetup"; do
        [ -d "$folder" ] || continue
        mkdir -p "/tmp/lane32-local$folder"
        (cd "$folder" && tar -cf - --exclude=./wineprefix --exclude=CMakeFiles \
            --exclude='*.obj' --exclude='*.a' --exclude='*.map' .) |
            (cd "/tmp/lane32-local$folder" && tar -xf -) &&
            mount --bind "/tmp/lane32-local$folder" "$folder" ||
            { echo "32-bit lane: could not copy $folder onto the machine" >&2; exit 1; }
    done
    phase "programs copied onto the emulated machine"
fi

. "$repo/scripts/private_xvfb.sh"
start_private_xvfb "$results" || exit 1

if ! "$build/wine-prefix.sh" start >"$results/prefix.log" 2>&1; then
    cat "$results/prefix.log" >&2
    echo "32-bit lane: the Wine prefix could not be made" >&2
    exit 1
fi
phase "Wine prefix made, Xvfb and wineserver running"

passed=0
failed=0
# The unit tests, each through the runner that fails a crash or an
# unfinished run whatever the exit code says.
unit_tests="tarn_tests credui_tests principal_tests launcher_tests msi_action_tests"
[ $# -eq 0 ] || unit_tests=""
for name in $unit_tests; do
    program=$(find "$build/tests" -name "$name.exe" -print -quit)
    if [ -n "$program" ] && "$build/wine-gtest.sh" "$program" >"$results/$name.log" 2>&1; then
        passed=$((passed + 1))
        phase "$name passed"
    else
        failed=$((failed + 1))
        tail -n 30 "$results/$name.log" >&2
        phase "$name FAILED"
    fi
done
# The runner itself must fail a program that crashes.
if [ -n "$unit_tests" ]; then
    crashing=$(find "$build/tests" -name 'crashing_gtest.exe' -print -quit)
    if [ -n "$crashing" ] && ! "$build/wine-gtest.sh" "$crashing" >"$results/crash.log" 2>&1 &&
        grep -q 'gtest check: ' "$results/crash.log"; then
        passed=$((passed + 1))
        phase "a crashing test program fails the run"
    else
        failed=$((failed + 1))
        phase "a crashing test program FAILED to fail the run"
    fi
fi

# The shipped launcher, sample caller and custom action; the stand-ins,
# probes and starters of the i686 test build.
export PYTHONDONTWRITEBYTECODE=1
export LAUNCHER_E2E_BUILD_DIR="$build"
export LAUNCHER_E2E_WINE_ENV="$build/wine-env.sh"
export LAUNCHER_E2E_LAUNCHER="$dist/launcher.exe"
export LAUNCHER_E2E_SAMPLE_CALLER="$dist/sample_caller.exe"
export LAUNCHER_E2E_MSI_CUSTOM_ACTION="$dist/samples/msi/run_as_administrator.dll"
e2e=$repo/tests/e2e
# An interpreter that has pytest: python3 on PATH may be another one (a
# user's own Python) than the system's, which set-up gave pytest.
python=python3
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import pytest' >/dev/null 2>&1; then
        python=$candidate
        break
    fi
done
[ $# -gt 0 ] || set -- \
    "$e2e/test_shipped_launcher.py" \
    "$e2e/test_round_trip.py::test_round_trip_through_the_sample_caller" \
    "$e2e/test_command_line.py::test_verb_in_other_case_is_refused" \
    "$e2e/test_command_line.py::test_two_tokens_cannot_be_parsed" \
    "$e2e/test_hardening.py::test_planted_netapi32_is_loaded_by_a_program_that_imports_it" \
    "$e2e/test_elevation.py::test_accepted_consent_runs_the_program_with_its_arguments" \
    "$e2e/test_elevation.py::test_declined_consent_is_a_cancel" \
    "$e2e/test_elevation.py::test_elevated_program_exit_codes_map_as_a_childs[1602]" \
    "$e2e/test_nsis_installer.py::test_silent_run_passes_the_arguments_exactly" \
    "$e2e/test_msi_installer.py::test_silent_installation_passes_the_arguments" \
    "$e2e/test_msi_installer.py::test_user_exit_ends_the_installation[cancel]" \
    "$e2e/test_msi_installer.py::test_action_extracts_into_a_folder_other_accounts_can_read" \
    "$e2e/test_inno_installer.py"
"$python" -m pytest -p no:cacheprovider -q -rfEs --durations=0 \
    --basetemp="${TMPDIR:-/tmp}/lane32-e2e" --junitxml="$results/e2e.xml" "$@"
counts=$("$python" - "$results/e2e.xml" <<'EOF'
import sys
import xml.etree.ElementTree as ET
try:
    suites = ET.parse(sys.argv[1]).getroot().iter("testsuite")
except (OSError, ET.ParseError):
    print(0, 1)  # pytest ended before it wrote its report
    sys.exit()
tests = failures = skipped = 0
for suite in suites:
    tests += int(suite.get("tests", 0))
    failures += int(suite.get("failures", 0)) + int(suite.get("errors", 0))
    skipped += int(suite.get("skipped", 0))
# A case that skips did not show what it exists for: here that is a failure.
print(tests - failures - skipped, failures + skipped)
EOF
)
passed=$((passed + ${counts% *}))
failed=$((failed + ${counts#* }))
phase "end-to-end cases run"

echo "32-bit lane: $passed passed, $failed failed (job took $(($(now) - job_started)) s)"
[ "$failed" -eq 0 ]
