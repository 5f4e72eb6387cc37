#!/usr/bin/env bash
# Install and removal times under Wine: the package of this tree (its custom
# action runs the module's pass on each machine) side by side with the
# statically harvested package of commit 6d6d8c7, in one Wine prefix, on the
# demo's installation. Each run seeds the prefix, times msiexec /i, then /x.
#
#   scripts/bench-msi.sh [RUNS]     (default 5)
#
# The old package is built once, from a temporary git worktree, into
# build/windows/bench-msi/ (kept for later runs).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-5}
# ccache makes the second build folder quick where it is installed; nothing needs it.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
fi

[ -f build/windows/CMakeCache.txt ] || cmake --preset windows >/dev/null
cmake --build --preset windows --target msi >/dev/null
new_msi=$root/build/windows/bin/qzproduct.msi

bench=$root/build/windows/bench-msi
old_msi=$bench/static/bin/qzproduct.msi
if [ ! -f "$old_msi" ]; then
  mkdir -p "$bench"
  source_dir=$bench/static-src
  [ -d "$source_dir" ] || git worktree add --detach "$source_dir" 6d6d8c7 >/dev/null
  cmake -S "$source_dir" -B "$bench/static" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$bench/static" --target msi >/dev/null
  git worktree remove --force "$source_dir"
fi

export PATH=/usr/lib/wine:$PATH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# A prefix of its own, from the build's template prefix (made by cmake/wine-test-run.sh).
[ -f build/windows/wine-template/system.reg ] || cmake/wine-test-run.sh --build-dir "$root/build/windows" cmd /c exit 0
prefix=$(mktemp -d "$root/build/windows/bench-msi/prefix.XXXXXX")
cleanup() { WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"; }
trap cleanup EXIT
template=$root/build/windows/wine-template
for entry in "$template"/* "$template"/.[!.]*; do
  [ -e "$entry" ] || continue
  [ "${entry##*/}" = drive_c ] || cp -a "$entry" "$prefix/"
done
mkdir -p "$prefix/drive_c"
for entry in "$template"/drive_c/*; do
  [ "${entry##*/}" = windows ] || cp -a "$entry" "$prefix/drive_c/"
done
cp -al "$template/drive_c/windows" "$prefix/drive_c/windows"
export WINEPREFIX=$prefix
wineserver -p
wine64 cmd /c exit 0 >/dev/null 2>&1 </dev/null

cp "$new_msi" "$prefix/drive_c/new.msi"
cp "$old_msi" "$prefix/drive_c/static.msi"
cp scripts/demo-installation.reg "$prefix/drive_c/seed.reg"

seconds() { local start=$1 end=$2; awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }'; }
now() { date +%s.%N; }
run() {  # run NAME: one installation and removal, "install removal" in seconds
  local t0 t1 t2
  wine64 reg import 'C:\seed.reg' >/dev/null 2>&1
  t0=$(now)
  wine64 msiexec /i "C:\\$1.msi" /qn >/dev/null 2>&1 || { echo "msiexec /i $1 failed" >&2; exit 1; }
  t1=$(now)
  wine64 msiexec /x "C:\\$1.msi" /qn >/dev/null 2>&1 || { echo "msiexec /x $1 failed" >&2; exit 1; }
  t2=$(now)
  echo "$(seconds "$t0" "$t1") $(seconds "$t1" "$t2")"
}

declare -A installs removals
for package in static new; do run "$package" >/dev/null; done  # warm-up
for ((i = 1; i <= runs; i++)); do
  for package in static new; do
    read -r install removal < <(run "$package")
    installs[$package]+="$install "
    removals[$package]+="$removal "
  done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { tr ' ' '\n' | grep -v '^$' | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "–" hi }'; }
echo "| package ($runs runs, demo installation, Wine $(wine64 --version 2>/dev/null)) | msiexec /i median (range) | msiexec /x median (range) | size |"
echo "|---|---|---|---|"
for package in static new; do
  file=$prefix/drive_c/$package.msi
  label=$([ $package = static ] && echo "static rows (6d6d8c7)" || echo "custom action (this tree)")
  echo "| $label | $(median <<<"${installs[$package]}") s ($(range <<<"${installs[$package]}")) | $(median <<<"${removals[$package]}") s ($(range <<<"${removals[$package]}")) | $(( $(stat -c %s "$file") / 1024 )) KiB |"
done
