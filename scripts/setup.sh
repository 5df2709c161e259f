#!/bin/sh
# Installs, idempotently, what a fresh Debian 12 machine lacks to build the
# launcher and run its tests under Wine, and only what this machine can use.
# Safe to run as root with no terminal.
#
#   scripts/setup.sh          everything the test command needs
#   scripts/setup.sh demo     only what the demo needs
#
# Whether the machine can execute 32-bit x86 code is found out first, by
# running a tiny 32-bit program (scripts/runs_32_bit_code.sh):
# - where it runs, 32-bit Wine (the i386 architecture and wine32) runs the
#   32-bit cases on the machine itself;
# - elsewhere no i386 architecture, package or index is added: the tests run
#   an x86_64 build under 64-bit Wine, and the 32-bit cases run in an
#   emulated machine (scripts/lane32/), whose tools are installed instead.
set -eu
repo_root=$(cd "$(dirname "$0")/.." && pwd)
purpose=${1:-test}
case "$purpose" in
demo | test) ;;
*) echo "usage: $0 [demo|test]" >&2; exit 2 ;;
esac

pkgs="gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
wine wine64 xvfb xauth xdotool googletest cmake make python3 python3-pytest python3-pefile"
if [ "$purpose" = test ]; then
    pkgs="$pkgs nsis osslsigncode openssl gcovr clang lld clang-tidy cppcheck wixl zip unzip"
fi

add_i386=""
if why=$("$repo_root/scripts/runs_32_bit_code.sh"); then
    echo "set-up: $why, so 32-bit Wine (i386) is installed and the 32-bit cases run on this machine"
    pkgs="$pkgs wine32:i386"
    dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1
elif [ "$purpose" = test ]; then
    echo "set-up: $why, so no i386 package is installed and the 32-bit cases run in an emulated machine"
    # The emulator, and what builds its disk image from Debian's packages.
    pkgs="$pkgs qemu-system-x86 mmdebstrap e2fsprogs"
else
    echo "set-up: $why, so no i386 package is installed and the demo runs the x86_64 build"
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=""
for p in $pkgs; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ] || [ -n "$add_i386" ]; then
    export DEBIAN_FRONTEND=noninteractive
    started=$(date +%s)
    before=$(dpkg-query -W -f='${Status}\n' | grep -c "install ok installed" || true)
    [ -z "$add_i386" ] || $SUDO dpkg --add-architecture i386
    log=$(mktemp)
    trap 'rm -f "$log" "$log.install"' EXIT
    # An index that fails to download (a mirror in the middle of a sync, an
    # architecture's index out of step with its Release file) may hold nothing
    # we need: the install below decides.
    if ! $SUDO apt-get update -q >"$log" 2>&1; then
        echo "set-up: apt-get update reported errors; trying the install with the indexes it has"
    fi
    # shellcheck disable=SC2086
    if ! $SUDO apt-get install -y -q --no-install-recommends $missing >"$log.install" 2>&1; then
        echo "set-up: could not install:$missing" >&2
        grep -E '^(E|W|Err):' "$log" | head -n 10 | sed 's/^/  apt-get update: /' >&2 || true
        grep -E '^(E|W):' "$log.install" | head -n 10 | sed 's/^/  apt-get install: /' >&2 ||
            tail -n 10 "$log.install" >&2
        exit 1
    fi
    after=$(dpkg-query -W -f='${Status}\n' | grep -c "install ok installed" || true)
    echo "set-up: installed $((after - before)) packages in $(($(date +%s) - started)) s"
fi

# Inno Setup's compiler for the Inno Setup sample's tests (it runs wherever
# 32-bit Wine runs: here or in the emulated machine): the npm package pinned
# by tests/tools/innosetup/package-lock.json, fetched from the registry this
# machine's npm configuration names (npm_config_registry, the npmrc files,
# or npm itself where it is installed) and checked against the lock file's
# hash, so that neither Node.js nor npm is needed.
if [ "$purpose" = test ]; then
    inno_src="$repo_root/tests/tools/innosetup"
    inno_dir="$repo_root/build/tools/innosetup"
    if [ ! -f "$inno_dir/node_modules/innosetup/bin/ISCC.exe" ] ||
        ! cmp -s "$inno_src/package-lock.json" "$inno_dir/package-lock.json"; then
        python3 "$inno_src/fetch.py" "$inno_dir"
    fi
fi
