#!/bin/sh
# Runs the whole end-to-end suite N times, each time on a Wine prefix made
# afresh, and counts the runs that failed. A test that fails now and then
# shows up here; each run's output is kept in build/soak-<arch>/run-<i>.log.
#
#   scripts/soak.sh [--arch i686|x86_64] N
#
# Ends with the line "soak: N runs, F failures" and exits non-zero when F > 0.
set -eu
. "$(dirname "$0")/common.sh"

arch=$(test_arch)
if [ "${1:-}" = "--arch" ]; then
    arch=$2
    shift 2
fi
runs=${1:?usage: scripts/soak.sh [--arch i686|x86_64] N}

cmake --preset "tests-$arch" -DLAUNCHER_WERROR=$werror >/dev/null
cmake --build "build/tests-$arch" -j"$(nproc)" >/dev/null

build="build/tests-$arch"
logs="build/soak-$arch"
rm -rf "$logs"
mkdir -p "$logs"
failures=0
i=1
while [ "$i" -le "$runs" ]; do
    # A new prefix each time: the first runs after a prefix is made are the
    # slowest, and where the harness has been caught out before.
    "$build/wine-prefix.sh" stop >/dev/null 2>&1 || true
    rm -rf "$build/wineprefix"
    started=$(date +%s)
    if xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --test-dir "$build" -R '^e2e' --output-on-failure >"$logs/run-$i.log" 2>&1; then
        result=passed
    else
        result=FAILED
        failures=$((failures + 1))
    fi
    echo "soak run $i ($arch): $result in $(($(date +%s) - started)) s, load $(cut -d' ' -f1-3 /proc/loadavg)"
    if [ "$result" = FAILED ]; then
        grep -E '^(FAILED|ERROR) |Error|did not end' "$logs/run-$i.log" | head -n 20 || true
    fi
    i=$((i + 1))
done
echo "soak: $runs runs, $failures failures"
[ "$failures" -eq 0 ]
