#!/usr/bin/env bash
# Tries this commit as a new user would on a fresh Debian: a minimal root made with debootstrap
# (plus git and make), a clean clone with the shared test material beside it (read-only), then
# the README's two commands, then the package built, installed and run. Prints each step's
# result and wall time; full logs go to build/check-debian-N/.
# Needs root, debootstrap and the package mirror. The root is unmounted and removed at the end,
# also after a failure or Ctrl-C.
#
# usage: tools/check_debian.sh RELEASE      (12 or 13; MIRROR=URL overrides the mirror)
set -euo pipefail

release=${1:-}
case $release in
  12) suite=bookworm ;;
  13) suite=trixie ;;
  *) echo "usage: $0 12|13" >&2; exit 2 ;;
esac
[ "$(id -u)" = 0 ] || { echo "check-debian needs root (debootstrap, chroot, mount)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "check-debian needs debootstrap: apt-get install debootstrap" >&2; exit 2; }

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)
shared=$(realpath -e "$repo/../shared" 2>/dev/null || true)
# The first Debian archive that apt is set up with, in either sources format.
default_mirror=$(sed -nE 's#^URIs:[[:space:]]*([^[:space:]]+/debian)/?$#\1#p
  s#^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+/debian)/?[[:space:]].*#\2#p' \
  /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1 || true)
mirror=${MIRROR:-${default_mirror:-http://deb.debian.org/debian}}
logs=$repo/build/check-debian-$release
mkdir -p "$logs"
root=$(mktemp -d "/var/tmp/orv-check-debian-$release.XXXXXX")

mounts_under_root() { awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/self/mounts | sort -r; }

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ "$status" -lt 128 ] || echo "interrupted: unmounting and removing $root" >&2
  # A build cut short leaves processes running inside the root; they hold its mounts open.
  local pids=() pid
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && pids+=("$pid")
  done
  if [ ${#pids[@]} -gt 0 ]; then
    kill -TERM "${pids[@]}" 2>/dev/null || true
    sleep 2
    kill -KILL "${pids[@]}" 2>/dev/null || true
  fi
  local m
  for m in $(mounts_under_root); do umount "$m" 2>/dev/null || umount -l "$m"; done
  # Never delete through a mount: /dev and the shared folder are bound into the root.
  if [ -n "$(mounts_under_root)" ]; then
    echo "still mounted, $root left in place:" >&2
    mounts_under_root >&2
    exit 1
  fi
  rm -rf --one-file-system "$root"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

failed=0
# step NAME COMMAND: runs one step in a shell of its own (so that a failing line stops it),
# logs it, prints its result and wall time.
step() {
  local name=$1 start end
  start=$(date +%s)
  if bash -eo pipefail -c "$2" >"$logs/$name.log" 2>&1; then
    end=$(date +%s)
    printf '%-8s pass  %dm%02ds\n' "$name" $(((end - start) / 60)) $(((end - start) % 60))
  else
    end=$(date +%s)
    printf '%-8s FAIL  %dm%02ds  (log: %s)\n' "$name" $(((end - start) / 60)) $(((end - start) % 60)) "$logs/$name.log"
    tail -n 30 "$logs/$name.log" | sed 's/^/    /'
    failed=1
    return 1
  fi
}

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /src/orvelant-verify && $1"
}

make_root() {
  debootstrap --variant=minbase --include=git,make "$suite" "$root" "$mirror"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  # The strace tests need /dev/null and friends; ptrace itself needs nothing mounted.
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mkdir -p "$root/src/shared"
  if [ -n "$shared" ]; then
    mount --bind "$shared" "$root/src/shared"
    mount -o remount,bind,ro "$root/src/shared"
  fi
  # A clean clone made by the root's own git, of exactly this commit.
  git -C "$repo" bundle create "$root/src/repo.bundle" HEAD
  chroot "$root" git clone -q /src/repo.bundle /src/orvelant-verify
  chroot "$root" git -C /src/orvelant-verify checkout -q --detach "$commit"
}

export root repo commit shared mirror suite
export -f make_root in_root
echo "Debian $release ($suite) from $mirror, commit ${commit:0:12}, shared folder: ${shared:-absent}"
git -C "$repo" diff --quiet HEAD || echo "note: uncommitted changes are not part of the check"
step root make_root || exit 1
step demo 'in_root "make demo"' || true
step test 'in_root "make test"' || true
step package 'in_root "make deb && apt-get install -y -qq ./build/demo/orvelant-verify_*.deb && orvelant-verify --version"' || true
[ "$failed" = 0 ] && echo "Debian $release: all steps passed" || { echo "Debian $release: failed" >&2; exit 1; }
