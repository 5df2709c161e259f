#!/bin/sh
# Sets up the machine, analyses the product code, builds the product and the
# tests, and runs the whole suite under Wine (with Xvfb for the windows and
# message boxes); then runs the 32-bit lane (the shipped 32-bit programs
# under 32-bit Wine: on this machine where it executes 32-bit code, else in
# an emulated machine), builds the product and its unit tests with clang and
# runs those unit tests too, and runs the suite once more under Wine's heap
# checking.
set -eu
. "$(dirname "$0")/common.sh"
./scripts/setup.sh
./scripts/static_analysis.sh
build_product
build_tests
arch=$(test_arch)
echo "Running the tests ($arch build) under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "build/tests-$arch" --output-on-failure "$@"
./scripts/test_32_bit_lane.sh
./scripts/clang_build.sh
./scripts/heap_check.sh
