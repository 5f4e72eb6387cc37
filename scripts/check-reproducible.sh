#!/usr/bin/env bash
# Builds the release artifacts of one commit twice, from two clean clones in
# two different folders, one after the other, and compares them byte for byte:
# qzproduct.dll, qzreg.exe, the MSI (and every other file the release-artifacts
# target gathers). Exit status 0 when they are identical, 1 when any differs.
#
#   scripts/check-reproducible.sh [--keep] [--ccache] [COMMIT]
#
# COMMIT defaults to HEAD; uncommitted changes are not part of the check.
# SOURCE_DATE_EPOCH is the commit's time. The compiler cache is off unless
# --ccache is given, so that both builds really compile. --keep leaves the two
# folders for inspection. A signing key configured in the environment (a
# PKCS#11 key, QZ_SIGN_PKCS11_*, or a PKCS#12 file, QZ_SIGN_PKCS12;
# docs/releasing.md) is used by both builds alike: a signed release compares
# equal too, the bill of materials included.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

keep=0
use_ccache=0
while [ $# -gt 0 ]; do
  case $1 in
    --keep) keep=1; shift ;;
    --ccache) use_ccache=1; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    -*) echo "check-reproducible.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")
[ -z "$(git status --porcelain --untracked-files=no)" ] || [ $# -gt 0 ] ||
  echo "check-reproducible.sh: note: uncommitted changes are not checked, only $commit"

scripts/setup-debian.sh

export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
[ "$use_ccache" -eq 1 ] || export CCACHE_DISABLE=1

work=$(mktemp -d "${TMPDIR:-/tmp}/check-reproducible.XXXXXX")
[ "$keep" -eq 1 ] && echo "check-reproducible.sh: the builds stay in $work" || trap 'rm -rf "$work"' EXIT

build() {  # folder
  local source=$1
  git clone --quiet --no-local --no-checkout "$repo" "$source"
  git -C "$source" checkout --quiet --detach "$commit"
  echo "== building $commit in $source"
  (cd "$source" && cmake --preset windows >"$source.configure.log" 2>&1 &&
    cmake --build --preset windows --target release-artifacts >"$source.build.log" 2>&1) || {
    tail -n 30 "$source.configure.log" "$source.build.log" >&2 2>/dev/null
    echo "check-reproducible.sh: the build in $source failed" >&2
    exit 1
  }
}

# Two folders of different names and depths, built at different times.
first=$work/first/src
second=$work/second-build/another/folder/src
mkdir -p "${first%/*}" "${second%/*}"
build "$first"
sleep 2
build "$second"

one=$first/build/windows/release-artifacts
two=$second/build/windows/release-artifacts
status=0
for file in "$one"/*; do
  name=${file##*/}
  if cmp -s "$file" "$two/$name"; then
    echo "same:   $name  $(sha256sum <"$file" | cut -d' ' -f1)"
  else
    echo "DIFFER: $name ($(cmp -l "$file" "$two/$name" 2>/dev/null | wc -l) bytes)"
    status=1
  fi
done
[ "$(ls "$one")" = "$(ls "$two")" ] || { echo "DIFFER: the lists of artifacts"; status=1; }
[ "$status" -eq 0 ] && echo "reproducible: both builds of $commit are identical" ||
  echo "NOT reproducible: the builds of $commit differ"
exit "$status"
