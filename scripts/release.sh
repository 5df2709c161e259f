#!/bin/sh
# Makes the release archive of the version that CMakeLists.txt names.
#
#   scripts/release.sh [--pfx FILE [--pass-file FILE] | --cert FILE --key FILE [--pass-file FILE]]
#                      [--timestamp URL] [--force] [--out DIR] [--allow-dirty]
#
# Builds the product from a clean copy of the last commit and writes
# DIR/launcher-<version>-win32.zip and DIR/SHA256SUMS (DIR is dist/release
# unless --out names another). With a key, launcher.exe is signed through
# scripts/sign.sh (the options are passed on as they are).
#
# --force        replaces an archive of the same version
# --allow-dirty  builds the working tree's files, committed or not (to try a
#                release out; a release is made from a commit)
#
# Without a key, the same commit gives the same archive, bit for bit: the
# entries are sorted and carry the time of the last commit (or
# SOURCE_DATE_EPOCH) and fixed permissions. A failed run leaves no archive.
set -eu

usage() {
    echo "usage: $0 [--pfx FILE [--pass-file FILE] | --cert FILE --key FILE [--pass-file FILE]]" >&2
    echo "       [--timestamp URL] [--force] [--out DIR] [--allow-dirty]" >&2
    exit 2
}

fail() {
    echo "release.sh: $*" >&2
    exit 1
}

need_value() {
    if [ "$#" -lt 2 ] || [ -z "$2" ]; then
        echo "release.sh: $1 needs a value" >&2
        usage
    fi
}

repo_root=$(cd "$(dirname "$0")/.." && pwd)
pfx="" cert="" key="" pass_file="" timestamp="" force="" out="" allow_dirty=""
while [ "$#" -gt 0 ]; do
    case "$1" in
        --pfx) need_value "$@"; pfx=$2; shift 2 ;;
        --cert) need_value "$@"; cert=$2; shift 2 ;;
        --key) need_value "$@"; key=$2; shift 2 ;;
        --pass-file) need_value "$@"; pass_file=$2; shift 2 ;;
        --timestamp) need_value "$@"; timestamp=$2; shift 2 ;;
        --out) need_value "$@"; out=$2; shift 2 ;;
        --force) force=1; shift ;;
        --allow-dirty) allow_dirty=1; shift ;;
        *) echo "release.sh: unknown argument $1" >&2; usage ;;
    esac
done
if [ -n "$pfx" ] && [ -n "$cert$key" ]; then
    echo "release.sh: use either --pfx or --cert with --key" >&2
    usage
fi
if [ -z "$pfx" ] && [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
    echo "release.sh: --cert and --key go together" >&2
    usage
fi
if [ -z "$pfx$cert" ] && [ -n "$pass_file$timestamp" ]; then
    echo "release.sh: --pass-file and --timestamp need a key" >&2
    usage
fi
for file in "$pfx" "$cert" "$key" "$pass_file"; do
    if [ -n "$file" ] && ! { [ -f "$file" ] && [ -r "$file" ]; }; then fail "cannot read $file"; fi
done
# Key files are named relative to where the script was started.
absolute() { case "$1" in /*|"") printf '%s' "$1" ;; *) printf '%s/%s' "$(pwd)" "$1" ;; esac; }
pfx=$(absolute "$pfx") cert=$(absolute "$cert") key=$(absolute "$key")
pass_file=$(absolute "$pass_file")
out=$(absolute "${out:-$repo_root/dist/release}")

cd "$repo_root"
git rev-parse --verify -q HEAD >/dev/null || fail "$repo_root is not a git checkout with a commit"

# The version: project() in CMakeLists.txt, and the changelog's newest heading.
version=$(sed -n 's/^project(launcher VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in the project() line of CMakeLists.txt"
changelog_version=$(sed -n 's/^## \[\([^]]*\)\].*/\1/p' CHANGELOG.md | head -n 1)
[ "$changelog_version" = "$version" ] ||
    fail "the newest heading of CHANGELOG.md is [$changelog_version], the version is $version"

name="launcher-$version-win32.zip"
if [ -e "$out/$name" ] && [ -z "$force" ]; then
    fail "$out/$name exists: --force replaces it"
fi

if [ -n "$(git status --porcelain)" ]; then
    [ -n "$allow_dirty" ] || fail "the tree has changes that are not committed: commit them, or try with --allow-dirty"
    echo "release.sh: building the working tree's files, not a commit" >&2
fi
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

work=$(mktemp -d "${TMPDIR:-/tmp}/launcher-release.XXXXXX")
partial=""
cleanup() {
    rm -rf "$work"
    if [ -n "$partial" ]; then rm -f "$partial" "$partial.sums"; fi
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# A clean tree: the committed files, or with --allow-dirty the files that
# a commit of everything would hold. Nothing built, nothing ignored.
mkdir "$work/tree"
if [ -n "$allow_dirty" ]; then
    git ls-files -z --cached --others --exclude-standard |
        xargs -0 sh -c 'for f; do if [ -e "$f" ] || [ -L "$f" ]; then printf "%s\0" "$f"; fi; done' sh |
        tar --null -T - -cf - | tar -xf - -C "$work/tree"
else
    git archive --format=tar HEAD | tar -xf - -C "$work/tree"
fi

echo "Building launcher $version in a clean tree"
(
    cd "$work/tree"
    cmake --preset mingw -DLAUNCHER_WERROR=ON >/dev/null
    cmake --build build/release -j"$(nproc)" >/dev/null
    cmake --install build/release --prefix "$work/install" >/dev/null
) || fail "the build failed"

if [ -n "$pfx$cert" ]; then
    set --
    if [ -n "$pfx" ]; then set -- --pfx "$pfx"; else set -- --cert "$cert" --key "$key"; fi
    if [ -n "$pass_file" ]; then set -- "$@" --pass-file "$pass_file"; fi
    if [ -n "$timestamp" ]; then set -- "$@" --timestamp "$timestamp"; fi
    sh "$work/tree/scripts/sign.sh" "$@" "$work/install/launcher.exe" "$work/launcher.exe" ||
        fail "signing launcher.exe failed"
    mv -f "$work/launcher.exe" "$work/install/launcher.exe"
fi

# Written beside its final name and renamed, so that no half archive is left.
mkdir -p "$out"
partial=$(mktemp "$out/.$name.XXXXXX")
rm -f "$partial"
python3 "$work/tree/scripts/release_archive.py" "$work/install" "$work/tree" "$version" "$epoch" \
    "$partial" || fail "writing the archive failed"
mv -f "$partial" "$out/$name"
# The checksums beside cover every archive in the folder.
(cd "$out" && sha256sum -- launcher-*-win32.zip) >"$partial.sums"
mv -f "$partial.sums" "$out/SHA256SUMS"
partial=""

echo "$out/$name: $(wc -c <"$out/$name") bytes"
grep -F "  $name" "$out/SHA256SUMS"
