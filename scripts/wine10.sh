#!/usr/bin/env bash
# The end-to-end modules under a second Wine: Debian 13's Wine 10.0, in a
# Debian 13 root made by debootstrap from Debian's archive, with the DLL and
# test client of the usual build (build/win, made here if missing).
#
#   scripts/wine10.sh [test_name ...]    default: every tests/e2e/test_*.py
#
# Runs as root on Debian 12 and needs the Debian archive the first time. The
# root is kept for the next run in $ZDB_WINE10_ROOT (default
# /var/cache/zeltan-dok/trixie), outside the repository, and made again when
# missing or left half-made. Everything mounted into it is unmounted again on
# every way out. Exit status 0 only when every module run passed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$repo/build}
root=${ZDB_WINE10_ROOT:-/var/cache/zeltan-dok/trixie}
mirror=${ZDB_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# What the modules need in the root: Wine's 32-bit side, the receiver's
# interpreter with jsonschema, test_https's certificate tools, test_imports'
# llvm-readobj (it reads Wine's own DLLs), test_faults' ip, which with
# unshare puts a client offline, and the reference receiver's waitress and
# the nginx that terminates TLS in front of it.
packages=(wine wine32:i386 python3 python3-jsonschema openssl ca-certificates llvm iproute2 strace
          python3-waitress nginx)
complete_mark=.zeltan-dok-complete

if [ "$(id -u)" -ne 0 ]; then
  echo "wine10: must run as root (debootstrap, chroot, mounts)" >&2
  exit 2
fi

# One run at a time per root: another run's mounts would be taken for a
# killed run's leftovers and unmounted under it.
mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
if ! flock -n 9; then
  echo "wine10: waiting for another run using $root"
  flock 9
fi

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
  mounted=()
}
trap unmount_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Binds a host folder to the same path inside the root.
bind() {
  mkdir -p "$2"
  mount --bind "$1" "$2"
  mounted+=("$2")
}

mount_system() {
  mkdir -p "$1/proc" "$1/sys"
  mount -t proc proc "$1/proc" && mounted+=("$1/proc")
  mount -t sysfs sysfs "$1/sys" && mounted+=("$1/sys")
  bind /dev "$1/dev"
  bind /dev/pts "$1/dev/pts"
}

# A run killed outright leaves its mounts behind; nothing is deleted under
# a path until nothing is mounted there, so that rm cannot reach the host's
# /dev or the repository.
unmount_leftovers() {
  local target
  awk -v p="$1" '$2 == p || index($2, p "/") == 1 { print $2 }' /proc/mounts | sort -r |
    while read -r target; do umount "$target" 2>/dev/null || umount -l "$target"; done
}

make_root() {
  local new=$root.new
  command -v debootstrap >/dev/null || {
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
  }
  unmount_leftovers "$new"
  unmount_leftovers "$root"
  rm -rf --one-file-system "$new" "$root"
  echo "wine10: making a Debian 13 root in $root (debootstrap, then Wine)"
  debootstrap --variant=minbase trixie "$new" "$mirror" >"$new.log" 2>&1 ||
    { tail -20 "$new.log" >&2; return 1; }
  chroot "$new" dpkg --add-architecture i386
  install_packages "$new" "$new.log" || { tail -20 "$new.log" >&2; return 1; }
  rm -f "$new.log"
  mv "$new" "$root"
}

# The mark lists what was installed: a root made for a shorter list gets the
# rest installed.
install_packages() {
  mount_system "$1"
  # No package's service may start inside the root: it would listen on the
  # machine's own ports (nginx on 80).
  printf '#!/bin/sh\nexit 101\n' >"$1/usr/sbin/policy-rc.d"
  chmod 755 "$1/usr/sbin/policy-rc.d"
  chroot "$1" apt-get update -qq
  chroot "$1" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${packages[@]}" >>"$2" 2>&1 || return 1
  chroot "$1" apt-get clean
  unmount_all
  echo "${packages[*]}" >"$1/$complete_mark"
}

if [ ! -e "$root/$complete_mark" ]; then
  make_root
elif [ "$(cat "$root/$complete_mark")" != "${packages[*]}" ]; then
  echo "wine10: installing ${packages[*]} into $root"
  install_packages "$root" /dev/null
fi

[ -f "$build/win/ZeltanDokBridge.dll" ] || "$repo/scripts/build.sh" --win-only

modules=("$@")
if [ ${#modules[@]} -eq 0 ]; then
  for path in "$repo"/tests/e2e/test_*.py; do
    modules+=("$(basename "$path" .py)")
  done
fi
[ ${#modules[@]} -gt 0 ] || { echo "wine10: no e2e modules found" >&2; exit 1; }

work=$build/wine10-work
unmount_leftovers "$root"
rm -rf "$work"
mkdir -p "$work"
# The root bound onto itself is a mount point, which unshare --mount (in
# test_faults) needs to make / private.
bind "$root" "$root"
mount_system "$root"
bind "$repo" "$root$repo"
case $build/ in "$repo"/*) ;; *) bind "$build" "$root$build" ;; esac

in_root() {
  chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    ZDB_WIN_BUILD="$build/win" ZDB_E2E_WORK="$work" WINEPREFIX="$work/prefix" \
    WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= "$@"
}
trust_cleanup() {
  in_root sh "$repo/tests/e2e/trust_cleanup.sh" || echo "wine10: trust store clean-up failed" >&2
}
# The Wine server of the run's prefix ends after the clean-up, which may have
# to edit the prefix's registry, and before anything is unmounted.
finish() {
  trust_cleanup
  in_root wineserver -k 2>/dev/null || true
  in_root wineserver -w 2>/dev/null || true
  unmount_all
}
trap finish EXIT

echo "wine10: $(in_root wine --version) in $root (Debian $(cat "$root/etc/debian_version"))"
in_root sh -c 'wineboot -i && wineserver -w' >/dev/null 2>&1

failed=0
for name in "${modules[@]}"; do
  if [ "$name" = test_release ]; then
    echo "wine10: test_release  not run: it builds with Debian 12's toolchain, which this root does not have"
    continue
  fi
  log=$work/$name.log
  start=$(date +%s%N)
  if in_root sh -c 'cd "$1" && exec python3 -m unittest -v "$2"' sh \
      "$repo/tests/e2e" "$name" >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
  fi
  # A module that skipped everything checked nothing.
  if grep -q '^Ran 0 tests' "$log"; then result="FAILED (nothing ran)"; fi
  [ "$result" = passed ] || failed=1
  tenths=$((($(date +%s%N) - start) / 100000000))
  printf 'wine10: %-23s %s in %d.%d s\n' "$name" "$result" $((tenths / 10)) $((tenths % 10))
  sed -n "s/.*skipped '\(.*\)'\$/    skipped: \1/p" "$log" | sort | uniq -c
  [ "$result" = passed ] || tail -n 40 "$log" | sed 's/^/    /'
done
exit $failed
