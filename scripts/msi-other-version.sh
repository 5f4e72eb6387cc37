#!/usr/bin/env bash
# A package built for another product version (39.0, from a second Windows
# build folder configured with -DQZ_PRODUCT_VERSION=39.0) on a machine where
# this tree's version (38.0) is installed by its own package: installing and
# removing 39.0 must do what regsvr32 and regsvr32 /u of the 39.0 DLL do (a twin
# prefix), keep everything that is 38.0's own, and leave nothing of 39.0.
#
#   scripts/msi-other-version.sh [VERSION]    (default 39.0; builds only the package's targets)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=${1:-39.0}
# ccache makes the second build folder quick where it is installed; nothing needs it.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
fi

[ -f build/windows/CMakeCache.txt ] || cmake --preset windows >/dev/null
cmake --build --preset windows --target msi >/dev/null
other=build/windows-${version}
[ -f "$other/CMakeCache.txt" ] || cmake --preset windows -B "$other" -DQZ_PRODUCT_VERSION="$version" >/dev/null
cmake --build "$other" --target msi >/dev/null
read -r this_build other_build < <(grep -h '#define QZ_VERSION_BUILD ' build/windows/generated/product_version.h \
  "$other/generated/product_version.h" | awk '{ printf "%s ", $3 } END { print "" }')
this_version=$(awk '/#define QZ_VERSION_TEXT/ { gsub(/"/, "", $3); print $3 }' build/windows/generated/product_version.h)

export PATH=/usr/lib/wine:$PATH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
template=$root/build/windows/wine-template
[ -f "$template/system.reg" ] || cmake/wine-test-run.sh --build-dir "$root/build/windows" cmd /c exit 0
work=$(mktemp -d "$root/build/windows/msi-other-version.XXXXXX")
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k >/dev/null 2>&1 || true; done
  rm -rf "$work"
}
trap cleanup EXIT

new_prefix() {  # new_prefix DIR: a copy of the template with its own running wineserver
  local dir=$1 entry
  mkdir -p "$dir/drive_c"
  for entry in "$template"/* "$template"/.[!.]*; do
    [ -e "$entry" ] || continue
    [ "${entry##*/}" = drive_c ] || cp -a "$entry" "$dir/"
  done
  for entry in "$template"/drive_c/*; do [ "${entry##*/}" = windows ] || cp -a "$entry" "$dir/drive_c/"; done
  cp -al "$template/drive_c/windows" "$dir/drive_c/windows"
  prefixes+=("$dir")
  WINEPREFIX=$dir wineserver -p
  WINEPREFIX=$dir wine64 cmd /c exit 0 >/dev/null 2>&1 </dev/null
  cp build/windows/bin/qzproduct.msi "$dir/drive_c/this.msi"
  cp "$other/bin/qzproduct.msi" "$dir/drive_c/other.msi"
  cp scripts/demo-installation.reg "$dir/drive_c/seed1.reg"
  cp tests/e2e/fixtures/msi_states/system_39.reg "$dir/drive_c/seed2.reg"
  for seed in seed1 seed2; do WINEPREFIX=$dir wine64 reg import "C:\\$seed.reg" >/dev/null 2>&1; done
  WINEPREFIX=$dir wine64 msiexec /i 'C:\this.msi' /qn >/dev/null 2>&1 || { echo "msiexec /i of $this_version failed" >&2; exit 1; }
}
keys=('HKLM\Software\Corvalen' 'HKLM\Software\Wow6432Node\Corvalen' 'HKCU\Software\Corvalen' 'HKCR\.ovxf'
      'HKCR\.ovxl' 'HKCR\Orvantis Language' 'HKCR\Tavrin Model Library' 'HKCR\OVX Application'
      "HKCR\\OVX Application ${this_build}0" "HKCR\\OVX Application ${other_build}0" 'HKCR\CLSID')
snapshot() {  # snapshot DIR OUT: the product's keys, each export's lines (the CLSID key only for the product's classes)
  local dir=$1 out=$2 key
  : >"$out"
  for key in "${keys[@]}"; do
    WINEPREFIX=$dir wine64 reg export "$key" 'C:\e.reg' /y >/dev/null 2>&1 || continue
    iconv -f utf-16 -t utf-8 "$dir/drive_c/e.reg" | tr -d '\r' | grep -v '^Windows Registry Editor' >>"$out"
  done
  # The classes: keep the product's three, by the class ids the two modules wrote.
  awk '/^\[HKEY_CLASSES_ROOT\\CLSID/ { keep = ($0 ~ /FDE14674-8E3D-|8B371C12-D457-|3209ADC4-9264-/) }
       /^\[/ && !/^\[HKEY_CLASSES_ROOT\\CLSID/ { keep = 1 }
       keep' "$out" >"$out.tmp" && mv "$out.tmp" "$out"
}
windows_path() { echo "C:\\Program Files\\Corvalen\\Orvantis $version\\qzproduct.dll"; }

# The package.
new_prefix "$work/package"
snapshot "$work/package" "$work/before.txt"
WINEPREFIX=$work/package wine64 msiexec /i 'C:\other.msi' /qn >/dev/null 2>&1 || { echo "msiexec /i of $version failed" >&2; exit 1; }
snapshot "$work/package" "$work/package-installed.txt"
WINEPREFIX=$work/package wine64 msiexec /x 'C:\other.msi' /qn >/dev/null 2>&1 || { echo "msiexec /x of $version failed" >&2; exit 1; }
snapshot "$work/package" "$work/package-removed.txt"

# The twin: regsvr32 of the same DLL at the path the package installs it to.
new_prefix "$work/twin"
mkdir -p "$work/twin/drive_c/Program Files/Corvalen/Orvantis $version"
cp "$other/bin/qzproduct.dll" "$work/twin/drive_c/Program Files/Corvalen/Orvantis $version/"
WINEPREFIX=$work/twin wine64 regsvr32 /s "$(windows_path)" 2>/dev/null || { echo "regsvr32 of $version failed" >&2; exit 1; }
snapshot "$work/twin" "$work/twin-installed.txt"
WINEPREFIX=$work/twin wine64 regsvr32 /s /u "$(windows_path)" 2>/dev/null || { echo "regsvr32 /u of $version failed" >&2; exit 1; }
snapshot "$work/twin" "$work/twin-removed.txt"

# Each line with the key it belongs to, for the checks below.
keyed() { awk '/^\[/ { key = $0; print; next } NF { print key " " $0 }' "$1"; }
failed=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi; }
check "installing $version writes what regsvr32 writes ($(grep -c . "$work/twin-installed.txt") lines)" \
  "diff '$work/twin-installed.txt' '$work/package-installed.txt' >&2"
# Windows Installer removes the key its removal empties (docs/differences.md): the other
# version's Options key, which held only the product's value.
empty_options="[HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\$version\\Options]"
check "removing $version removes what regsvr32 /u removes, but for the emptied $empty_options" \
  "diff <(keyed '$work/twin-removed.txt' | grep -v -F -x '$empty_options') <(keyed '$work/package-removed.txt') >&2"
# Nothing of the other version is left but its per-user switch, which regsvr32 /u keeps too
# (the user's own setting), and the system's Dir key that the seed made.
check "nothing of $version is left but the user's IniSettings" \
  "! keyed '$work/package-removed.txt' | grep -v -F 'HKEY_CURRENT_USER\\Software\\Corvalen\\Orvantis\\$version' |
     grep -n -E 'Orvantis\\\\${version//./\\.}|Application ${other_build}0|-0${other_build}-|Orvantis V13' >&2"
# Everything that is this version's own is still there as it was: its settings and per-user
# keys, its versioned ProgID and application class, its value under the system's Options key.
own="^\\[[^]]*(Orvantis\\\\${this_version//./\\.}|OVX Application ${this_build}0|\\{FDE14674-8E3D-0${this_build}-)|Options\\] \"ovx\"="
check "nothing of $this_version's own is removed ($(keyed "$work/before.txt" | grep -c -E "$own") lines)" \
  "diff <(keyed '$work/before.txt' | grep -E '$own') <(keyed '$work/package-removed.txt' | grep -E '$own') >&2"
exit $failed
