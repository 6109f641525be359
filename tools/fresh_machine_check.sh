#!/usr/bin/env bash
# The README's two commands on a fresh machine: a minimal Debian 12 root
# (debootstrap --variant=minbase) holding only the toolchain (g++, cmake,
# make, git, clang), where a clean clone of this repository runs
# `make demo` and then `make test`, and both must pass with nothing else
# typed.
#
#   tools/fresh_machine_check.sh [REVISION]      default: HEAD
#
# The root file system is made once and kept in build/fresh/base (or
# TUK_FRESH_BASE; TUK_FRESH_MIRROR picks the Debian mirror). Every run
# works on an overlay of it that is thrown away afterwards, so each starts
# from the same clean machine. Needs root (debootstrap, mounts, chroot).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
revision=${1:-HEAD}
base=${TUK_FRESH_BASE:-$root/build/fresh/base}
mirror=${TUK_FRESH_MIRROR:-http://deb.debian.org/debian}
toolchain=g++,cmake,make,git,clang
started=$(date +%s)

step() { echo "== $* ($(( $(date +%s) - started ))s)"; }

[ "$(id -u)" = 0 ] || { echo "fresh_machine_check: needs root" >&2; exit 2; }
"$root/tools/install-deps.sh" fresh

if [ ! -e "$base/.complete" ]; then
  step "Minimal Debian 12 with the toolchain into $base"
  rm -rf "$base.partial"
  mkdir -p "$(dirname "$base")"
  debootstrap --variant=minbase --include="$toolchain" bookworm "$base.partial" "$mirror" \
    >"$base.log" 2>&1 || { tail -n 20 "$base.log" >&2; exit 1; }
  rm -rf "$base"
  mv "$base.partial" "$base"
  touch "$base/.complete"
fi

run=$(mktemp -d "$(dirname "$base")/run.XXXXXX")
machine=$run/root
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[i]}" 2>/dev/null || true
  done
  rm -rf "$run"
}
trap cleanup EXIT
mount_at() {  # mount_at DIR MOUNT-ARGS...
  local dir=$1
  shift
  mount "$@" "$dir"
  mounted+=("$dir")
}

step "A clean machine: an overlay of the base"
mkdir -p "$run/upper" "$run/work" "$machine"
mount_at "$machine" -t overlay overlay \
  -o "lowerdir=$base,upperdir=$run/upper,workdir=$run/work"
mount_at "$machine/proc" -t proc proc
mount_at "$machine/sys" -t sysfs sysfs
mount_at "$machine/dev" --bind /dev
mount_at "$machine/dev/pts" -t devpts devpts
cp /etc/resolv.conf "$machine/etc/resolv.conf"

step "A fresh clone of $revision"
git clone --quiet --no-local "$root" "$machine/root/tuk"
git -C "$machine/root/tuk" checkout --quiet "$(git -C "$root" rev-parse "$revision")"

for command in "make demo" "make test"; do
  step "$command"
  chroot "$machine" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    sh -c "cd /root/tuk && $command"
done

step "Both passed on a fresh machine"
