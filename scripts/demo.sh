#!/bin/sh
# Demo: builds the product into dist/ and shows one launch end to end under
# Wine. The sample caller starts the launcher; the credential dialog is the
# scripted stand-in, which answers as the Wine session user; the logon is the
# test stand-in (Wine has no second account), which starts the probe child.
# The demo prints the dialog's caption, the account that was accepted, the
# arguments as the child received them and the exit code.
set -eu
. "$(dirname "$0")/common.sh"
./scripts/setup.sh demo
build_product
build_tests

arch=$(test_arch)
build="$repo_root/build/tests-$arch"
if [ "$arch" = i686 ]; then
    # 32-bit Wine works here: run the shipped executables themselves.
    launcher="$repo_root/dist/launcher.exe"
    caller="$repo_root/dist/sample_caller.exe"
else
    echo "This machine cannot run 32-bit code: the demo runs the x86_64 build of the same sources."
    launcher="$build/launcher.exe"
    caller="$build/samples/sample_caller.exe"
fi
probe="$build/tests/support/probe_child/probe.exe"
logon_dll="$build/stand-ins/logon_stand_in.dll"
. "$build/wine-env.sh"

work=$(mktemp -d)
xvfb_pid=""
prefix_started=""
cleanup() {
    if [ -n "$prefix_started" ]; then
        timeout 30 "$build/wine-prefix.sh" stop >/dev/null 2>&1 || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

. "$repo_root/scripts/private_xvfb.sh"
start_private_xvfb "$work" || exit 1

prefix_started=1
timeout 300 "$build/wine-prefix.sh" start

winpath() { printf 'Z:%s' "$(realpath "$1")" | tr / '\\'; }

user=$(id -un)
printf 'credentials %s\t\tdemo-password\n' "$user" >"$work/dialog.script"
printf 'account %s\t*\tdemo-password\n' "$user" >"$work/logon.script"
export STAND_IN_CREDUI_SCRIPT="$(winpath "$work/dialog.script")"
export STAND_IN_CREDUI_LOG="$(winpath "$work")\\dialog.log"
export STAND_IN_LOGON_DLL="$(winpath "$logon_dll")"
export STAND_IN_LOGON_SCRIPT="$(winpath "$work/logon.script")"
export STAND_IN_LOGON_LOG="$(winpath "$work")\\logon.log"
export PROBE_LOG="$(winpath "$work")\\probe.log"
export WINEDEBUG=-all

echo
echo "Starting: sample_caller.exe launcher.exe probe.exe \"hello world\" 'say \"hi\"' 'C:\\path with space\\'"
set +e
timeout --kill-after=10 60 "$LAUNCHER_WINE" "$caller" "$(winpath "$launcher")" "$(winpath "$probe")" \
    "hello world" 'say "hi"' 'C:\path with space\' \
    </dev/null >"$work/caller.out" 2>"$work/caller.err"
code=$?
set -e

python3 - "$work" "$code" <<'EOF'
import json, sys
from pathlib import Path

work, code = Path(sys.argv[1]), int(sys.argv[2])

def lines(name):
    path = work / name
    return path.read_text(encoding="utf-8").splitlines() if path.exists() else []

for line in lines("dialog.log"):
    name, *fields = line.split("\t")
    if name == "prompt":
        caption = dict(f.partition("=")[::2] for f in fields).get("caption", "")
        print(f"Dialog caption:   {caption}")
for record in map(json.loads, lines("logon.log")):
    if record.get("event") == "logon" and record["outcome"] == "started":
        account = record["user"] if not record["domain"] else f'{record["domain"]}\\{record["user"]}'
        print(f"Account accepted: {account}")
        print(f"Child started:    {record['command_line']}")
for record in map(json.loads, lines("probe.log")):
    print("Child's arguments (C runtime argv):")
    for i, token in enumerate(record["runtime_argv"]):
        print(f"  [{i}] {token!r}")
print(f"Exit code:        {code}" + ("" if code != 124 else " (timed out)"))
EOF
if [ "$code" -ne 0 ]; then
    echo "The launch did not succeed; Wine's output:" >&2
    tail -n 20 "$work/caller.err" >&2
    exit 1
fi
