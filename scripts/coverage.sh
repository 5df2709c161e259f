#!/bin/sh
# Line and branch coverage of src/ and include/ by the whole suite (unit and
# end-to-end tests) under Wine. Builds an instrumented copy of the test tree
# in build/coverage-<arch>, runs it, and reports per file with gcovr through
# the MinGW gcov of that architecture. Branches that only exceptions take are
# left out. The last line is "coverage: lines N.N%, branches M.M%".
set -eu
. "$(dirname "$0")/common.sh"
./scripts/setup.sh

arch=$(test_arch)
build="build/coverage-$arch"
cmake --preset "tests-$arch" -B "$build" -DLAUNCHER_COVERAGE=ON -DLAUNCHER_WERROR=$werror \
    >/dev/null
cmake --build "$build" -j"$(nproc)"

# The Windows processes write their counts to the object folders' absolute
# paths (Wine resolves them); start from zero.
find "$build" -name '*.gcda' -delete

# release_checks inspect the shipped files in dist/, not this build.
echo "Running the tests ($arch coverage build) under Wine"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -E '^release_checks$' || status=$?

report="$build/coverage"
mkdir -p "$report"
gcovr --root "$repo_root" --gcov-executable "$arch-w64-mingw32-gcov" \
    --filter "$repo_root/src/" --filter "$repo_root/include/" \
    --exclude-throw-branches --json "$report/coverage.json" "$build"
echo
echo "Lines per file"
gcovr --add-tracefile "$report/coverage.json" --root "$repo_root" --txt
echo "Branches per file"
gcovr --add-tracefile "$report/coverage.json" --root "$repo_root" --txt --branches
gcovr --add-tracefile "$report/coverage.json" --root "$repo_root" \
    --json-summary "$report/summary.json" >/dev/null
if [ "$status" -ne 0 ]; then echo "Some tests failed (ctest status $status)" >&2; fi
python3 - "$report/summary.json" <<'EOF'
import json, sys
summary = json.load(open(sys.argv[1]))
print(f"coverage: lines {summary['line_percent']:.1f}%, branches {summary['branch_percent']:.1f}%")
EOF
exit "$status"
