#!/bin/bash
# Boots the 32-bit machine that scripts/lane32/image.sh built and runs one job in it.
#
#   scripts/lane32/run.sh [--timeout SECONDS] [--console] SHARED_DIR COMMAND...
#
# The machine is an x86_64 PC emulated by qemu (TCG, no KVM), so that 32-bit Wine runs
# even where this host cannot execute 32-bit code. SHARED_DIR is shared with it over 9p
# and mounted AT THE SAME ABSOLUTE PATH, so that files a host build configured with
# absolute paths work unchanged. COMMAND (its words joined by spaces, as ssh does) runs
# there as root under bash -c, in SHARED_DIR, with stdin from /dev/null, HOME=/root and
# no display. Wine is /usr/lib/wine/wine (nothing named wine is on PATH).
#
# The job's stdout and stderr come out here as the job writes them; the kernel's and
# init's messages do not (--console shows them live, on stderr). The exit status is the
# job's. A job still running after --timeout seconds (default 2700) ends the machine: the
# last 40 lines of its console are printed and the status is 124. A machine that stops
# without reporting an exit code (a kernel panic, a job that powered it off) gives the
# console's tail too, and status 125. Other failures here give 2.
#
# LANE32_APPEND adds kernel parameters (e.g. LANE32_APPEND=loglevel=7 with --console shows
# the kernel's messages while it boots).
#
# The disk is opened with snapshot=on: what the job writes outside SHARED_DIR and /tmp
# (a tmpfs) is lost when it ends, and the image stays as built.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
img=${LANE32_DIR:-$repo/build/lane32}

usage() { echo "usage: $0 [--timeout SECONDS] [--console] SHARED_DIR COMMAND..." >&2; exit 2; }
limit=2700 console=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --timeout) [[ $# -ge 2 && $2 =~ ^[0-9]+$ && $2 -gt 0 ]] || usage; limit=$2; shift 2 ;;
    --timeout=*) limit=${1#*=}; [[ $limit =~ ^[0-9]+$ && $limit -gt 0 ]] || usage; shift ;;
    --console) console=1; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[[ $# -ge 2 ]] || usage
[[ -d $1 ]] || { echo "run.sh: not a folder: $1" >&2; exit 2; }
share=$(realpath "$1")
shift
job="$*"
[[ $share != / ]] || { echo "run.sh: cannot share the whole root" >&2; exit 2; }
command -v qemu-system-x86_64 >/dev/null || { echo "run.sh: qemu-system-x86_64 is missing (Debian package qemu-system-x86)" >&2; exit 2; }
# The image's files are opened while image.sh cannot be replacing them (it takes the
# same lock), and qemu reads them through these descriptors: a build that finishes
# meanwhile cannot hand this machine a kernel of one build and a disk of another.
if [[ -d $img ]]; then
  exec {lock}>>"$img/.lock"
  flock -s "$lock"
fi
if ! "$here/image.sh" --check; then
  echo "run.sh: the machine's image is missing or out of date; build it with scripts/lane32/image.sh" >&2
  exit 2
fi
exec {disk_fd}<"$img/disk.img" {kernel_fd}<"$img/vmlinuz" {initrd_fd}<"$img/initrd.img"
flock -u "$lock"
exec {lock}>&-

tmp=$(mktemp -d "${TMPDIR:-/tmp}/lane32.XXXXXX")
qemu_pid= timer_pid= out_pid= err_pid= tail_pid=
stop() {
  local pid
  for pid in "$@"; do
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
  done
}
cleanup() {
  local rc=$?
  trap - EXIT INT TERM HUP
  if [[ -n $qemu_pid ]] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill "$qemu_pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$qemu_pid" 2>/dev/null || break; sleep 0.5; done
    kill -9 "$qemu_pid" 2>/dev/null || true
  fi
  stop "$timer_pid" "$out_pid" "$err_pid" "$tail_pid"
  rm -rf "$tmp"
  exit "$rc"
}
trap cleanup EXIT
trap 'echo "run.sh: interrupted" >&2; exit 130' INT
trap 'echo "run.sh: terminated" >&2; exit 143' TERM
trap 'exit 129' HUP

mkdir "$tmp/ctl"
printf '%s\n' "$share" > "$tmp/ctl/dir"
printf '%s\n' "$job" > "$tmp/ctl/job"
: > "$tmp/console.log"
# The job's output reaches this script's own stdout and stderr through cat, so that it
# lands where they point (a terminal, a pipe, or a file at its current offset).
mkfifo "$tmp/out" "$tmp/err"
cat "$tmp/out" & out_pid=$!
cat "$tmp/err" >&2 & err_pid=$!
# Without the firmware's terminal escapes (clear screen, wrap off) and carriage returns.
plain() { sed -u -e 's/\x1bc//g; s/\x1b\[[0-9;?]*[A-Za-z]//g; s/\r//g'; }
if [[ $console == 1 ]]; then
  tail -n +1 -F "$tmp/console.log" > >(plain >&2) 2>/dev/null & tail_pid=$!
fi

# qemu's -virtfs takes a comma in a path as ",,".
vpath() { printf '%s' "${1//,/,,}"; }
# panic=-1 reboots at once after a kernel or initrd failure, and -no-reboot turns that
# into qemu's exit. smap=off: with SMAP, qemu 7.2's TCG makes a 32-bit iret from user
# mode fault in the guest's kernel, which kills every 32-bit Wine process.
append="root=/dev/vda rootfstype=ext4 rw console=ttyS0 quiet panic=-1 init=/sbin/lane32-init fsck.mode=skip noresume ${LANE32_APPEND:-}"
# In a session of its own, so that a Ctrl-C reaches this script (whose trap stops the
# machine) and not qemu, which would end quietly and look like a machine that died.
TMPDIR=$tmp setsid qemu-system-x86_64 \
  -name lane32 -nodefaults -nographic -no-reboot \
  -accel tcg,thread=multi -smp 2 -m 4096 -cpu max,smap=off \
  -kernel "/dev/fd/$kernel_fd" -initrd "/dev/fd/$initrd_fd" -append "$append" \
  -drive "file=/dev/fd/$disk_fd,if=virtio,format=raw,snapshot=on,cache=unsafe" \
  -virtfs "local,path=$(vpath "$tmp/ctl"),mount_tag=lane32ctl,security_model=none" \
  -virtfs "local,path=$(vpath "$share"),mount_tag=lane32share,security_model=none,multidevs=remap" \
  -device virtio-serial-pci,id=ports \
  -chardev "file,id=out,path=$(vpath "$tmp/out")" -device virtserialport,bus=ports.0,chardev=out,name=lane32.out \
  -chardev "file,id=err,path=$(vpath "$tmp/err")" -device virtserialport,bus=ports.0,chardev=err,name=lane32.err \
  -serial "file:$tmp/console.log" -monitor none \
  </dev/null >"$tmp/qemu.log" 2>&1 &
qemu_pid=$!
sleep "$limit" & timer_pid=$!

finished=
wait -n -p finished "$qemu_pid" "$timer_pid" || true
timed_out=0
if [[ $finished == "$timer_pid" ]]; then
  timed_out=1
  timer_pid=
  kill "$qemu_pid" 2>/dev/null || true
fi
wait "$qemu_pid" 2>/dev/null && qemu_rc=0 || qemu_rc=$?
qemu_pid=
stop "$timer_pid"; timer_pid=

# A cat still waiting to open its pipe (qemu never opened it) gets end-of-file.
exec {fd}<>"$tmp/out"; exec {fd}>&-
exec {fd}<>"$tmp/err"; exec {fd}>&-
wait "$out_pid" "$err_pid" 2>/dev/null || true
out_pid= err_pid=
if [[ -n $tail_pid ]]; then sleep 0.3; stop "$tail_pid"; tail_pid=; fi

console_tail() {
  echo "---- last 40 lines of the machine's console ----" >&2
  tail -n 40 "$tmp/console.log" | plain >&2
  if grep -qv 'terminating on signal' "$tmp/qemu.log"; then
    echo "---- qemu ----" >&2
    grep -v 'terminating on signal' "$tmp/qemu.log" >&2
  fi
  echo "----" >&2
}
if [[ $timed_out == 1 ]]; then
  echo "run.sh: the job was still running after $limit s; machine stopped" >&2
  console_tail
  exit 124
fi
rc=$(cat "$tmp/ctl/rc" 2>/dev/null || true)
if [[ ! $rc =~ ^[0-9]+$ ]]; then
  echo "run.sh: the machine stopped without an exit code (qemu exit status $qemu_rc)" >&2
  console_tail
  exit 125
fi
exit "$rc"
