#!/usr/bin/env bash
# Runs a command of this project in a fresh Debian made for that run: what CI runs.
#
#   scripts/fresh-debian.sh [--keep] COMMAND [ARGS...]
#   scripts/fresh-debian.sh scripts/run-tests.sh      # the README's test command, as CI runs it
#
# A green run on a machine that has been used hides a missing install step: the
# tool is there because someone installed it by hand. Here the command runs in a
# minimal Debian of this machine's release (mmdebstrap --variant=minbase, from this
# machine's own apt sources), with a clone of the commit that is checked out here
# (HEAD; uncommitted changes are not part of it) and nothing of this machine's
# installed packages, so the project's setup script must install everything.
#
# Needs root (or sudo) and Debian packages only: mmdebstrap and git are installed
# on this machine when missing (scripts/setup-debian.sh --ci-host). The root lives under ${TMPDIR:-/var/tmp}; /proc,
# /sys, /dev, /dev/pts, a fresh /dev/shm and a fresh /tmp are mounted in it. On
# every way out (success, failure, Ctrl-C) the processes the command left inside
# the root are stopped, everything mounted is unmounted and the root is removed,
# unless --keep is given (then it is left for inspection, unmounted). The exit
# status is the command's; 2 when the root could not be made.
#
# A contributor without root runs scripts/run-tests.sh directly instead.
set -euo pipefail

keep=0
if [ "${1:-}" = "--keep" ]; then keep=1; shift; fi
if [ $# -eq 0 ] || [ "${1:-}" = "--help" ]; then
  sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'
  [ $# -eq 0 ] && exit 2 || exit 0
fi

project=$(cd "$(dirname "$0")/.." && pwd)

# Root for what follows: this script mounts and chroots.
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "fresh-debian.sh: needs root (or sudo)" >&2; exit 2; }
  again=("$0")
  [ $keep -eq 1 ] && again+=(--keep)
  exec sudo --preserve-env=TMPDIR "${again[@]}" "$@"
fi

"$project/scripts/setup-debian.sh" --ci-host

# This machine's release and apt sources: deb822 files and a one-line-style list.
. /etc/os-release
suite=${VERSION_CODENAME:?fresh-debian.sh: /etc/os-release names no release}
sources=()
for file in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list; do
  [ -s "$file" ] && sources+=("$file")
done
[ ${#sources[@]} -gt 0 ] || { echo "fresh-debian.sh: this machine has no apt sources" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/var/tmp}/fresh-debian.XXXXXX")
root=$work/root
mounted=()

# Processes whose root directory is ours: what the command started (a wineserver
# that outlives its test, say). Nothing else is touched.
stop_our_processes() {
  local signal=$1 proc found=1
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] || continue
    kill "-$signal" "${proc#/proc/}" 2>/dev/null || true
    found=0
  done
  return $found
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  set +e
  if [ -d "$root" ]; then
    if stop_our_processes TERM; then
      sleep 2
      stop_our_processes KILL && sleep 1
    fi
  fi
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}"
  done
  # Never remove through something still mounted: that would reach this machine's /dev.
  if grep -q " ${work}/" /proc/self/mountinfo; then
    echo "fresh-debian.sh: something is still mounted under $work; it is left in place" >&2
  elif [ $keep -eq 1 ]; then
    echo "fresh-debian.sh: kept $root"
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'echo "== fresh-debian: interrupted" >&2; exit 130' INT
trap 'echo "== fresh-debian: terminated" >&2; exit 143' TERM
trap 'exit 129' HUP

started=$(date +%s)
echo "== fresh-debian: making a minimal Debian $suite in $root"
if ! mmdebstrap --quiet --variant=minbase "$suite" "$root" "${sources[@]}"; then
  echo "fresh-debian.sh: mmdebstrap could not make the root" >&2
  exit 2
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The commit under test, cloned (not the working tree), with the shared folder
# beside it as CI has it.
inside=/work/checkout
git clone --quiet --no-hardlinks "$project" "$root$inside"
git -C "$root$inside" checkout --quiet --detach "$(git -C "$project" rev-parse HEAD)"
[ -d "$project/../shared" ] && cp -a "$project/../shared" "$root/work/shared"

mount_in() {
  local type=$1 source=$2 target=$root$3
  shift 3
  mkdir -p "$target"
  if [ "$type" = bind ]; then
    mount --bind "$source" "$target"
  else
    mount -t "$type" "$@" "$source" "$target"
  fi
  mounted+=("$target")
}
mount_in proc proc /proc
mount_in sysfs sysfs /sys
mount_in bind /dev /dev
mount_in bind /dev/pts /dev/pts
mount_in tmpfs tmpfs /dev/shm -o mode=1777
mount_in tmpfs tmpfs /tmp -o mode=1777
echo "== fresh-debian: root ready in $(($(date +%s) - started)) s; running: $*"

# In the background and waited for, so that a signal to this script alone (Ctrl-C,
# timeout, a CI runner's TERM) is handled at once: the trap ends the run and the
# cleanup stops whatever the command still has running inside the root.
set +e
chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c 'cd "$0" && exec "$@"' "$inside" "$@" <&0 &
wait $!
status=$?
set -e
echo "== fresh-debian: the command exited $status after $(($(date +%s) - started)) s in all"
exit "$status"
