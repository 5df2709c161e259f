#!/bin/sh
# Sets up the machine, builds the product and the tests, and runs the whole
# suite under Wine (with Xvfb for the windows and message boxes).
set -eu
. "$(dirname "$0")/common.sh"
./scripts/setup.sh
build_product
build_tests
arch=$(test_arch)
echo "Running the tests ($arch build) under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "build/tests-$arch" --output-on-failure "$@"
