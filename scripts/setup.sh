#!/bin/sh
# Installs, idempotently, what a fresh Debian 12 machine lacks to build the
# launcher and run its tests under Wine. Safe to run as root with no terminal.
set -eu

pkgs="gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
wine wine32:i386 wine64 xvfb xauth xdotool googletest cmake make python3 python3-pytest python3-pefile \
nsis osslsigncode openssl gcovr clang lld clang-tidy cppcheck \
wixl zip unzip"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need_install=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    need_install=1
fi
for p in $pkgs; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        need_install=1
    fi
done
# Node.js and npm (for the installer compiler's npm package): a machine may
# already have a Node.js build that bundles npm, which Debian's npm package
# conflicts with, so they are installed only when npm is missing.
if ! command -v npm >/dev/null 2>&1; then
    pkgs="$pkgs nodejs npm"
    need_install=1
fi
if [ -n "$need_install" ]; then
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -q --no-install-recommends $pkgs
fi
