#!/bin/sh
# Tells whether this machine can execute 32-bit x86 code, by running a
# 32-bit Linux program of 96 bytes that needs nothing installed: it makes the
# exit system call with status 42. What is installed says nothing about this
# (a kernel without IA-32 emulation refuses the program whatever packages
# exist). Exits 0 when the program ran, 1 when it did not, and prints one line
# that says which and why. The set-up, demo and test commands and the tests
# all ask this script.
set -u
dir=$(cd "$(dirname "$0")/.." && pwd)/build
mkdir -p "$dir" || exit 1
probe=$(mktemp "$dir/.runs-32-bit-code.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment, then: mov eax,1; mov ebx,42; int 0x80.
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
chmod +x "$probe"
error=$("$probe" 2>&1)
status=$?
if [ "$status" -eq 42 ]; then
    echo "a 32-bit test program ran here"
    exit 0
fi
echo "a 32-bit test program could not run here (exit status $status${error:+: ${error##*: }})"
exit 1
