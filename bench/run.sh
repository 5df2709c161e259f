#!/bin/sh
# Builds the product and the Wine-runnable test build, then prints the
# benchmark figures (bench/measure.py) under Xvfb with the build's prefix.
set -eu
. "$(dirname "$0")/../scripts/common.sh"
./scripts/setup.sh
build_product
build_tests
arch=$(test_arch)
build="build/tests-$arch"
# Where 32-bit code runs, the launch is measured on the shipped executable.
launcher="$build/launcher.exe"
if [ "$arch" = i686 ]; then launcher=dist/launcher.exe; fi
"$build/wine-prefix.sh" start >/dev/null
trap '"$build/wine-prefix.sh" stop >/dev/null 2>&1 || true' EXIT
xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 bench/measure.py --build "$build" \
    --launcher "$launcher" "$@"
