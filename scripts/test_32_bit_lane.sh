#!/bin/sh
# The 32-bit lane: what we ship is 32-bit (launcher.exe, the sample caller,
# the custom-action DLL, Inno Setup's compiler and setups), so it is run as
# it ships, under 32-bit Wine. On a machine that executes 32-bit code the
# cases run on the machine; elsewhere in an emulated machine
# (scripts/lane32/): its disk image is built once and kept under
# build/lane32/, and each run boots it with this folder shared.
#
# Everything is built on the host first: dist/ and the i686 test build. The
# cases themselves are tests/lane32/cases.sh; arguments are passed to it
# (pytest arguments that pick end-to-end cases, for debugging one case).
set -eu
. "$(dirname "$0")/common.sh"

lane_started=$(date +%s)
phase_started=$lane_started
phase() {
    echo "32-bit lane: $1 ($(($(date +%s) - phase_started)) s)"
    phase_started=$(date +%s)
}

[ -f dist/launcher.exe ] || build_product
cmake --preset tests-i686 -DLAUNCHER_WERROR=$werror >/dev/null
mkdir -p build/lane32
# Only what the cases run: the unit tests, the runner's crash proof and the
# end-to-end programs.
cmake --build build/tests-i686 -j"$(nproc)" --target tarn_tests credui_tests principal_tests msi_action_tests \
    launcher_tests crashing_gtest e2e_programs >build/lane32/i686-build.log 2>&1 ||
    { cat build/lane32/i686-build.log >&2; exit 1; }
grep -E 'warning:' build/lane32/i686-build.log >&2 || true
phase "i686 test build on the host"

status=0
if why=$(./scripts/runs_32_bit_code.sh); then
    echo "32-bit lane: $why, so the cases run on this machine"
    tests/lane32/cases.sh "$@" || status=$?
else
    echo "32-bit lane: $why, so the cases run in an emulated machine"
    ./scripts/lane32/image.sh
    phase "disk image"
    # The job took 5 to 13 minutes on a 2-core machine, the longest with
    # another emulated machine beside it; one that has not ended after 40
    # is stuck.
    ./scripts/lane32/run.sh --timeout 2400 "$repo_root" \
        env LANE32_EMULATED=1 tests/lane32/cases.sh "$@" || status=$?
fi
echo "32-bit lane: $(($(date +%s) - lane_started)) s in all"
exit $status
