#!/usr/bin/env bash
# Install and removal times under Wine, three packages side by side in one Wine
# prefix, on the demo's installation: the package of this tree (its custom
# action runs the module's pass on each machine), the statically harvested
# package of commit 6d6d8c7, and that static package plus a DLL action that
# does nothing (tests/timing/noop_action.cpp), the floor of any custom action.
# Each run seeds the prefix, times msiexec /i, then /x.
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
cmake --build --preset windows --target msi qznoopaction >/dev/null
new_msi=$root/build/windows/bin/qzproduct.msi
noop_action=$root/build/windows/bin/qznoopaction.dll

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

# The floor: the static package with the do-nothing action in its Binary table, run immediate at
# the package's action's place in the sequence, on installation and removal alike.
floor_msi=$bench/floor.msi
floor_work=$(mktemp -d "$bench/floor.XXXXXX")
cp "$old_msi" "$floor_work/floor.msi"
mkdir -p "$floor_work/Binary"
cp "$noop_action" "$floor_work/Binary/QzNothing.ibd"
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nQzNothing\tQzNothing.ibd\r\n' >"$floor_work/Binary.idt"
(cd "$floor_work" && msibuild floor.msi -i Binary.idt \
  -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('QzNothing', 1, 'QzNothing', 'QzNothing')" \
  -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('QzNothing', 1450)" \
  -s "Floor" "Corvalen" "x64;1033" "{$(tr a-f A-F </proc/sys/kernel/random/uuid)}")  # a package of its own
(cd "$floor_work" && msiinfo export floor.msi CustomAction) | grep -q "^QzNothing" ||
  { echo "bench-msi.sh: the floor package did not get its action" >&2; exit 1; }
mv "$floor_work/floor.msi" "$floor_msi"
rm -rf "$floor_work"

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
cp "$floor_msi" "$prefix/drive_c/floor.msi"
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
for package in static floor new; do run "$package" >/dev/null; done  # warm-up
for ((i = 1; i <= runs; i++)); do
  for package in static floor new; do
    read -r install removal < <(run "$package")
    installs[$package]+="$install "
    removals[$package]+="$removal "
  done
done
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { tr ' ' '\n' | grep -v '^$' | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "–" hi }'; }
echo "| package ($runs runs, demo installation, Wine $(wine64 --version 2>/dev/null)) | msiexec /i median (range) | msiexec /x median (range) | size |"
echo "|---|---|---|---|"
for package in static floor new; do
  file=$prefix/drive_c/$package.msi
  case $package in
    static) label="static rows (6d6d8c7)" ;;
    floor) label="static rows + an action that does nothing (the floor)" ;;
    new) label="custom action (this tree)" ;;
  esac
  echo "| $label | $(median <<<"${installs[$package]}") s ($(range <<<"${installs[$package]}")) | $(median <<<"${removals[$package]}") s ($(range <<<"${removals[$package]}")) | $(( $(stat -c %s "$file") / 1024 )) KiB |"
done
floor_install=$(median <<<"${installs[floor]}")
floor_removal=$(median <<<"${removals[floor]}")
echo
echo "this tree against the floor: install $(awk -v a="$(median <<<"${installs[new]}")" -v b="$floor_install" 'BEGIN { printf "%.2f", a / b }')x, removal $(awk -v a="$(median <<<"${removals[new]}")" -v b="$floor_removal" 'BEGIN { printf "%.2f", a / b }')x (goal: within 1.3x)"
