#!/bin/bash
# Builds the disk image of the 32-bit machine: an emulated x86_64 machine whose Debian 12
# root holds 32-bit Wine, for running what we ship (32-bit Windows code) on hosts that
# cannot execute 32-bit code themselves. scripts/lane32/run.sh boots it.
#
#   scripts/lane32/image.sh            build the image unless it is up to date
#   scripts/lane32/image.sh --force    build it anyway
#   scripts/lane32/image.sh --check    exit 0 if it is up to date, 1 if not; build nothing
#   scripts/lane32/image.sh --binfmt   run 32-bit maintainer scripts through qemu-i386-static
#
# The root comes from Debian's packages (mmdebstrap, amd64 with i386 as a foreign
# architecture; the package list is scripts/lane32/packages.txt) and becomes a raw ext4
# image made by mkfs.ext4 -d, without loop mounts. The packages come from this host's
# apt configuration: its sources of bookworm and bookworm-updates main, whatever mirror
# they name (host_sources.py picks them out), and its download settings (proxies,
# retries). A host whose sources carry no bookworm main stops the build, which says what
# it looked for. The results live in build/lane32/ (LANE32_DIR overrides): disk.img,
# vmlinuz and initrd.img (taken out of the root, for qemu's -kernel and -initrd), and
# image.stamp, a hash of the package list, these scripts and the guest's init. The image
# is rebuilt only when that hash changes. Downloaded packages are kept in
# build/lane32/debs/ for the next build.
#
# Host packages: mmdebstrap, e2fsprogs (mkfs.ext4 1.43 or later), and with --binfmt
# qemu-user-static. Run as root: it needs chroot and mounts, and it works on a plain
# host and inside a chroot alike.
#
# 32-bit maintainer scripts. This host may be unable to execute 32-bit programs, and by
# default the build does not make it able to. With the packages listed today, the only
# i386 maintainer script that runs a 32-bit program is libglib2.0-0's (glib-compile-schemas
# and gio-querymodules, both with "|| true"), and neither has anything to do while no
# GSettings schema and no 32-bit GIO module is installed. So the build runs without them
# and then reads its log: every "Exec format error" must be one of those two with nothing
# to do, or the build fails and names it. Then --binfmt builds with a binfmt_misc handler
# for qemu-i386-static (flag F), registered for the build only and removed on every exit,
# with binfmt_misc itself if the build mounted it. The host's own dpkg architectures are
# never touched.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
out=${LANE32_DIR:-$repo/build/lane32}

force=0 check=0 binfmt=0
for arg in "$@"; do
  case $arg in
    --force) force=1 ;;
    --check) check=1 ;;
    --binfmt) binfmt=1 ;;
    -h|--help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "image.sh: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

# What the image holds is decided by these files alone.
inputs=("$here/packages.txt" "$here/image.sh" "$here/host_sources.py" "$here/guest-init")
hash=$(cat "${inputs[@]}" | sha256sum | cut -d' ' -f1)
up_to_date() {
  [[ -s $out/disk.img && -s $out/vmlinuz && -s $out/initrd.img && -f $out/image.stamp ]] &&
    [[ $(cat "$out/image.stamp") == "$hash" ]]
}
if [[ $check == 1 ]]; then
  up_to_date
  exit
fi
if [[ $force == 0 ]] && up_to_date; then
  echo "lane32 image: up to date ($out/disk.img)"
  exit 0
fi
[[ $(id -u) == 0 ]] || { echo "image.sh: run as root (it needs chroot and mounts)" >&2; exit 2; }
# One build at a time; a build that waited may find the image up to date.
mkdir -p "$out"
exec {build_lock}>>"$out/.build.lock"
if ! flock -n "$build_lock"; then
  echo "lane32 image: waiting for another build to finish"
  flock "$build_lock"
fi
if [[ $force == 0 ]] && up_to_date; then
  echo "lane32 image: up to date ($out/disk.img)"
  exit 0
fi
for tool in mmdebstrap mkfs.ext4; do
  command -v "$tool" >/dev/null || { echo "image.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done
qemu_i386=
if [[ $binfmt == 1 ]]; then
  qemu_i386=$(command -v qemu-i386-static) ||
    { echo "image.sh: qemu-i386-static is missing (Debian package qemu-user-static)" >&2; exit 2; }
fi

start=$(date +%s)
mkdir -p "$out/debs"
root=$out/root.new
work=$(mktemp -d "$out/work.XXXXXX")
binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_name=
binfmt_mounted=0

# mmdebstrap unmounts what it mounted in the root; if it was killed, do it here.
remove_root() {
  local m
  [[ -d $root ]] || return 0
  for m in $(findmnt -rn -o TARGET | grep -F "$root/" | sort -r); do umount -l "$m" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
cleanup() {
  local rc=$?
  trap - EXIT INT TERM HUP
  remove_root
  if [[ -n $binfmt_name && -e $binfmt_dir/$binfmt_name ]]; then
    echo -1 > "$binfmt_dir/$binfmt_name" || echo "image.sh: could not remove the binfmt_misc handler $binfmt_name" >&2
  fi
  if [[ $binfmt_mounted == 1 ]]; then
    umount "$binfmt_dir" || echo "image.sh: could not unmount $binfmt_dir" >&2
  fi
  rm -rf "$work" "$out/disk.img.new" "$out/vmlinuz.new" "$out/initrd.img.new"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

remove_root

if [[ $binfmt == 1 ]]; then
  if ! mountpoint -q "$binfmt_dir"; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir"
    binfmt_mounted=1
  fi
  # An enabled handler for i386 programs may exist already (binfmt-support); use it then.
  existing=
  for f in "$binfmt_dir"/*; do
    case ${f##*/} in register|status) continue ;; esac
    if grep -qx enabled "$f" && grep -q '^magic 7f454c4601010100000000000000000002000300' "$f"; then
      existing=$f
      break
    fi
  done
  if [[ -n $existing ]]; then
    echo "lane32 image: using the host's binfmt_misc handler $existing"
  else
    binfmt_name=lane32-i386-$$
    # qemu's own magic and mask for i386 ELF executables; F opens the interpreter now,
    # so that it works inside the root without being copied there.
    printf '%s' ":$binfmt_name:M::"'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'":$qemu_i386:F" \
      > "$binfmt_dir/register"
  fi
fi

packages=$(sed -e 's/#.*//' "$here/packages.txt" | xargs | tr ' ' ',')
[[ -n $packages ]] || { echo "image.sh: no packages in $here/packages.txt" >&2; exit 2; }

# The packages come from where this host's apt gets its own, as its configuration says:
# its sources (the files apt-config names, one-line and deb822 alike), narrowed by
# host_sources.py to the suites and component below with their URIs and options as they
# are, and its download settings (the whole Acquire tree of apt.conf and apt.conf.d:
# proxies, retries, time-outs, checks), which apply to this build alone: the customize
# hook below removes them from the root. This build reaches exactly what set-up reaches.
# Only bookworm and bookworm-updates, not bookworm-security: an i386 package must have
# exactly the version of its amd64 twin, and the security archive's i386 index is at
# times out of step with its Release file (apt-get update then fails with "File has
# unexpected size ... Mirror sync in progress?").
sourcelist='' sourceparts=''
eval "$(apt-config shell sourcelist Dir::Etc::sourcelist/f sourceparts Dir::Etc::sourceparts/d)"
if ! python3 "$here/host_sources.py" "$sourcelist" "$sourceparts" main bookworm bookworm-updates \
    > "$work/host.sources" 2> "$work/host-sources.err"; then
  echo "image.sh: $(cat "$work/host-sources.err")" >&2
  exit 1
fi
apt-config dump --no-empty --format '%f "%v";%n' Acquire > "$work/host-apt.conf"

# The guest's initrd needs only what mounts the root: MODULES=list with these modules
# keeps it small, which makes it quicker both to build and to boot under emulation.
export LANE32_HERE=$here
essential_hook='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/usr/share/initramfs-tools/modules.d" &&
  echo MODULES=list > "$1/etc/initramfs-tools/conf.d/lane32" &&
  printf "%s\n" virtio_pci virtio_blk ext4 crc32c_generic > "$1/usr/share/initramfs-tools/modules.d/lane32"'
customize_hook='install -m 755 "$LANE32_HERE/guest-init" "$1/sbin/lane32-init" &&
  echo vm > "$1/etc/hostname" &&
  printf "127.0.0.1\tlocalhost\n127.0.1.1\tvm\n" > "$1/etc/hosts" &&
  : > "$1/etc/resolv.conf" &&
  chroot "$1" apt-get -q autoclean >/dev/null'

if ! mmdebstrap --mode=root --variant=minbase --architectures=amd64,i386 \
    --include="$packages" \
    --aptopt="$work/host-apt.conf" \
    --dpkgopt=force-unsafe-io \
    --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/info/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    --dpkgopt='path-exclude=/usr/share/doc/*' \
    --dpkgopt='path-include=/usr/share/doc/*/copyright' \
    --skip=essential/unlink \
    --setup-hook='mkdir -p "$1/var/cache/apt/archives"' \
    --setup-hook="sync-in $out/debs /var/cache/apt/archives/" \
    --essential-hook="$essential_hook" \
    --customize-hook="$customize_hook" \
    --customize-hook="sync-out /var/cache/apt/archives $work/debs" \
    --customize-hook='rm -f "$1/etc/apt/apt.conf.d/99mmdebstrap"' \
    --verbose \
    bookworm "$root" "$work/host.sources" \
    > "$out/mmdebstrap.log" 2>&1; then
  tail -n 40 "$out/mmdebstrap.log" >&2
  echo "lane32 image: mmdebstrap failed (log: $out/mmdebstrap.log)" >&2
  exit 1
fi
# The download cache keeps what this build used, no older versions.
rm -rf "$out/debs" && mv "$work/debs" "$out/debs"

# Every 32-bit program a maintainer script tried to run without the handler.
if [[ $binfmt == 0 ]]; then
  bad=0
  while IFS= read -r line; do
    case $line in
      *"/usr/lib/i386-linux-gnu/glib-2.0/glib-compile-schemas: Exec format error"*)
        if compgen -G "$root/usr/share/glib-2.0/schemas/*.xml" >/dev/null && [[ ! -s $root/usr/share/glib-2.0/schemas/gschemas.compiled ]]; then
          echo "lane32 image: GSettings schemas are installed but not compiled" >&2; bad=1
        fi ;;
      *"/usr/lib/i386-linux-gnu/glib-2.0/gio-querymodules: Exec format error"*)
        if compgen -G "$root/usr/lib/i386-linux-gnu/gio/modules/*.so" >/dev/null; then
          echo "lane32 image: 32-bit GIO modules are installed but not registered" >&2; bad=1
        fi ;;
      *) echo "lane32 image: a maintainer script could not run a 32-bit program: $line" >&2; bad=1 ;;
    esac
  done < <(grep -a 'Exec format error' "$out/mmdebstrap.log" || true)
  if [[ $bad == 1 ]]; then
    echo "lane32 image: build again with --binfmt (needs qemu-user-static)" >&2
    exit 1
  fi
fi

kernels=("$root"/boot/vmlinuz-*)
[[ ${#kernels[@]} == 1 && -f ${kernels[0]} ]] || { echo "image.sh: expected one kernel in the root, found: ${kernels[*]}" >&2; exit 1; }
version=${kernels[0]##*/vmlinuz-}
[[ -f $root/boot/initrd.img-$version ]] || { echo "image.sh: no initrd for $version" >&2; exit 1; }

# Room for what jobs write outside the shared folder and /tmp (a tmpfs). The file is
# sparse, and run.sh boots it with snapshot=on: writes never reach it.
used_mb=$(du -sxm "$root" | cut -f1)
size_mb=$(( used_mb * 5 / 4 + 2048 ))
# No journal: the image is never written for good.
mkfs.ext4 -q -F -L lane32 -O ^has_journal -m 0 -d "$root" "$out/disk.img.new" "${size_mb}M" >/dev/null
cp "$root/boot/vmlinuz-$version" "$out/vmlinuz.new"
cp "$root/boot/initrd.img-$version" "$out/initrd.img.new"
rm -rf --one-file-system "$root"
# run.sh opens the three files under a shared lock on .lock; replace them under an
# exclusive one. Machines already running keep the files they opened.
exec {use_lock}>>"$out/.lock"
flock "$use_lock"
rm -f "$out/image.stamp"
mv "$out/disk.img.new" "$out/disk.img"
mv "$out/vmlinuz.new" "$out/vmlinuz"
mv "$out/initrd.img.new" "$out/initrd.img"
echo "$hash" > "$out/image.stamp"
flock -u "$use_lock"
echo "lane32 image: built in $(( $(date +%s) - start )) s ($out/disk.img: root ${used_mb} MB, kernel $version)"
