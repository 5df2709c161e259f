#!/bin/sh
# Signs a built Windows executable with Authenticode (SHA-256) using osslsigncode.
#
#   scripts/sign.sh (--pfx FILE [--pass-file FILE] | --cert FILE --key FILE [--pass-file FILE])
#                   [--timestamp URL] INPUT OUTPUT
#
# --pfx        a PKCS#12 file holding the certificate chain and the private key
# --cert/--key the certificate chain (PEM or DER) and the private key
# --pass-file  a file whose first line is the password of the key; without it
#              the key is read as unprotected
# --timestamp  an RFC 3161 time-stamping server, so that the signature stays
#              valid after the certificate expires
#
# The key and its password are only read, from the files given: nothing is
# written but OUTPUT, and the password never appears on a command line.
# OUTPUT appears only once the signing has succeeded; it may not be INPUT.
set -eu

usage() {
    echo "usage: $0 (--pfx FILE [--pass-file FILE] | --cert FILE --key FILE [--pass-file FILE])" >&2
    echo "       [--timestamp URL] INPUT OUTPUT" >&2
    exit 2
}

fail() {
    echo "sign.sh: $*" >&2
    exit 1
}

need_value() {
    if [ "$#" -lt 2 ] || [ -z "$2" ]; then
        echo "sign.sh: $1 needs a value" >&2
        usage
    fi
}

pfx="" cert="" key="" pass_file="" timestamp="" input="" output=""
while [ "$#" -gt 0 ]; do
    case "$1" in
        --pfx) need_value "$@"; pfx=$2; shift 2 ;;
        --cert) need_value "$@"; cert=$2; shift 2 ;;
        --key) need_value "$@"; key=$2; shift 2 ;;
        --pass-file) need_value "$@"; pass_file=$2; shift 2 ;;
        --timestamp) need_value "$@"; timestamp=$2; shift 2 ;;
        --) shift; break ;;
        -*) echo "sign.sh: unknown option $1" >&2; usage ;;
        *) break ;;
    esac
done
[ "$#" -eq 2 ] || { echo "sign.sh: INPUT and OUTPUT are needed, and nothing else" >&2; usage; }
input=$1
output=$2

if [ -n "$pfx" ]; then
    [ -z "$cert$key" ] || { echo "sign.sh: use either --pfx or --cert with --key" >&2; usage; }
else
    if [ -z "$cert" ] || [ -z "$key" ]; then
        echo "sign.sh: --pfx, or --cert with --key, is needed" >&2
        usage
    fi
fi

command -v osslsigncode >/dev/null 2>&1 ||
    fail "osslsigncode is not installed (scripts/setup.sh installs it)"
for file in "$pfx" "$cert" "$key" "$pass_file" "$input"; do
    if [ -n "$file" ] && ! { [ -f "$file" ] && [ -r "$file" ]; }; then
        fail "cannot read $file"
    fi
done
[ -n "$output" ] || fail "OUTPUT is empty"
# The same file by any path or link: same device and inode.
if [ -e "$output" ] && [ "$(stat -L -c %d:%i -- "$input")" = "$(stat -L -c %d:%i -- "$output")" ]; then
    fail "OUTPUT is INPUT ($output): write the signed file elsewhere"
fi
out_dir=$(dirname -- "$output")
[ -d "$out_dir" ] || fail "no folder $out_dir for OUTPUT"

set -- sign -h sha256
if [ -n "$pfx" ]; then
    set -- "$@" -pkcs12 "$pfx"
else
    set -- "$@" -certs "$cert" -key "$key"
fi
if [ -n "$pass_file" ]; then set -- "$@" -readpass "$pass_file"; fi
if [ -n "$timestamp" ]; then set -- "$@" -ts "$timestamp"; fi

# Sign beside OUTPUT and move it into place, so that a failure leaves no
# half-written OUTPUT behind.
partial=$(mktemp "$out_dir/.sign.XXXXXX")
trap 'rm -f "$partial"' EXIT
trap 'exit 1' HUP INT TERM
rm -f "$partial"  # osslsigncode creates it
osslsigncode "$@" -in "$input" -out "$partial" >&2 || fail "signing $input failed"
mv -f "$partial" "$output"
echo "signed $input -> $output"
