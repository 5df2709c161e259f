#!/bin/sh
# Runs the unit and end-to-end tests under Wine's heap checking
# (WINEDEBUG=warn+heap: the heap is validated on every call, and a block
# written out of bounds or freed twice is reported) and counts the heap
# warnings in everything Wine printed. Prints "heap check: N warnings" and
# exits non-zero when a test failed or N > 0.
set -eu
. "$(dirname "$0")/common.sh"

arch=$(test_arch)
build="build/tests-$arch"
cmake --preset "tests-$arch" -DLAUNCHER_WERROR=$werror >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

out="build/heap-check-$arch"
rm -rf "$out"
mkdir -p "$out"
# The unit tests take WINEDEBUG from the environment; the end-to-end
# driver adds these channels to its own, and keeps Wine's output of every
# program it runs under pytest's base folder.
export WINEDEBUG=warn+heap
export LAUNCHER_E2E_WINEDEBUG=warn+heap
export PYTEST_ADDOPTS="--basetemp=$repo_root/$out/e2e"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" -E '^release_checks$' --output-on-failure -V \
    >"$out/ctest.log" 2>&1 || status=$?

wine_output() {
    cat "$out/ctest.log"
    find "$out/e2e" -name 'wine-*.err' -exec cat {} + 2>/dev/null || true
}
# A refused allocation is not a heap error: the out-of-memory tests ask the
# process heap for more than the address space on purpose, and Wine warns
# that it could not allocate the region.
refused='warn:heap:allocate_region Could not allocate'
wine_output | grep -E ':(err|warn):heap' | grep -vF "$refused" >"$out/heap-warnings.txt" || true
warnings=$(wc -l <"$out/heap-warnings.txt")
echo "heap check: $(wine_output | grep -cF "$refused" || true) refused allocations (not counted)"
if [ "$warnings" -gt 0 ]; then
    sort "$out/heap-warnings.txt" | uniq -c | sort -rn | head -n 20 >&2
fi
if [ "$status" -ne 0 ]; then
    grep -E '(Failed|FAILED|Passed|tests passed)' "$out/ctest.log" | tail -n 20 >&2
    echo "heap check: tests failed (see $out/ctest.log)" >&2
fi
echo "heap check: $warnings warnings"
[ "$status" -eq 0 ] && [ "$warnings" -eq 0 ]
