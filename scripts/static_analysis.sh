#!/bin/sh
# Static analysis of the product code (src/, include/) as it is built for
# Windows: cppcheck for the 32- and 64-bit platforms, clang-tidy for the i686
# MinGW target with the MinGW C and C++ headers. Prints one summary line and
# fails when either tool reports anything; the findings themselves go to
# stderr and stay in build/static-analysis/.
set -eu
. "$(dirname "$0")/common.sh"

out="$repo_root/build/static-analysis"
rm -rf "$out"
mkdir -p "$out"
jobs=$(nproc)

# The product's own defines (see the top CMakeLists.txt).
defines="-DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0600"

# cppcheck knows the Windows API from its windows library, not from the
# MinGW headers, so a system header it does not open is no finding.
run_cppcheck() { # platform, extra defines
    # shellcheck disable=SC2086
    cppcheck --quiet --platform="$1" --library=windows --std=c++17 --language=c++ \
        --enable=warning,style,performance,portability,information \
        --suppress=missingIncludeSystem --inline-suppr --error-exitcode=1 \
        $defines $2 -I include -I src \
        --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
        src include 2>>"$out/cppcheck.txt" || cppcheck_failed=1
}
cppcheck_failed=0
run_cppcheck win32W "-D_WIN32"
run_cppcheck win64 "-D_WIN32 -D_WIN64"
cppcheck_findings=$(sort -u "$out/cppcheck.txt" | grep -c . || true)
# A failed run without a finding line still fails.
if [ "$cppcheck_failed" -ne 0 ] && [ "$cppcheck_findings" -eq 0 ]; then cppcheck_findings=1; fi

# clang-tidy: one translation unit per source file, findings in the
# project's own headers included, each finding counted once.
gcc_cxx=/usr/lib/gcc/i686-w64-mingw32/12-posix/include/c++
tidy_checks='-*,bugprone-*,cert-*,clang-analyzer-*,performance-*'
find src -name '*.cpp' | sort >"$out/sources.txt"
tidy_status=0
# shellcheck disable=SC2086
xargs -P "$jobs" -I '{}' clang-tidy --quiet --checks="$tidy_checks" \
    --header-filter="^$repo_root/(include|src)/" '{}' -- \
    --target=i686-w64-mingw32 -std=c++17 \
    -isystem "$gcc_cxx" -isystem "$gcc_cxx/i686-w64-mingw32" -isystem "$gcc_cxx/backward" \
    $defines -I include -I src <"$out/sources.txt" >"$out/clang-tidy-raw.txt" \
    2>"$out/clang-tidy-stderr.txt" || tidy_status=$?
grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' "$out/clang-tidy-raw.txt" |
    sort -u >"$out/clang-tidy.txt" || true
tidy_findings=$(grep -c . "$out/clang-tidy.txt" || true)
# clang-tidy fails only when a file does not parse: that is a finding too.
if [ "$tidy_status" -ne 0 ] && [ "$tidy_findings" -eq 0 ]; then tidy_findings=1; fi

if [ "$cppcheck_findings" -ne 0 ] || [ "$tidy_findings" -ne 0 ]; then
    sort -u "$out/cppcheck.txt" >&2
    cat "$out/clang-tidy-raw.txt" "$out/clang-tidy-stderr.txt" >&2
fi
echo "static analysis: cppcheck $cppcheck_findings findings, clang-tidy $tidy_findings findings"
[ "$cppcheck_findings" -eq 0 ] && [ "$tidy_findings" -eq 0 ]
