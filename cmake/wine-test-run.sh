#!/usr/bin/env bash
# Runs one Windows test program under Wine in a throwaway prefix of its own.
#
#   wine-test-run.sh --build-dir DIR PROGRAM [ARGS...]
#
# A template prefix is prepared once per build directory (DIR/wine-template);
# each run copies it (see copy_prefix), starts that prefix's own persistent wineserver with one warm-up run
# (a test then costs ~0.1 s instead of ~2.5 s), runs the program, stops that
# wineserver and removes the copy. It never touches a prefix it did not make.
set -u

build_dir=
if [ "${1:-}" = "--build-dir" ]; then build_dir=$2; shift 2; fi
[ -n "$build_dir" ] || { echo "wine-test-run.sh: --build-dir is required" >&2; exit 2; }
[ $# -ge 1 ] || { echo "wine-test-run.sh: no program given" >&2; exit 2; }

export PATH=/usr/lib/wine:$PATH
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

template=$build_dir/wine-template
prefixes=$build_dir/wine-prefixes
mkdir -p "$prefixes"

prepare_template() {
  local tmp
  tmp=$(mktemp -d "$build_dir/wine-template.tmp.XXXXXX")
  (
    export WINEPREFIX=$tmp
    wine64 wineboot -i >"$tmp.log" 2>&1
    # Relay tracing, when a test turns it on, is limited to the error box.
    wine64 reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d 'user32.MessageBoxExA' /f >>"$tmp.log" 2>&1
    # A crashing test program must end, not wait in a crash dialog.
    wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$tmp.log" 2>&1
    wineserver -w
  ) || return 1
  rm -f "$tmp.log"
  mv "$tmp" "$template"
}

(
  flock 9
  if [ ! -f "$template/system.reg" ]; then
    rm -rf "$template"
    prepare_template || { echo "wine-test-run.sh: could not prepare $template" >&2; exit 1; }
  fi
) 9>"$build_dir/wine-template.lock" || exit 1

# A copy of the template. The Windows folder (~690 MB of system DLLs that no
# test writes) is hard-linked, which makes a copy take ~0.1 s instead of ~3 s;
# everything else, the hive files that wineserver rewrites in place above all,
# is copied for real, so the template never changes through a link.
copy_prefix() {
  local src=$1 dst=$2 entry
  mkdir -p "$dst/drive_c"
  for entry in "$src"/* "$src"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    [ "${entry##*/}" = drive_c ] && continue
    cp -a "$entry" "$dst/" || return 1
  done
  for entry in "$src"/drive_c/* "$src"/drive_c/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    [ "${entry##*/}" = windows ] && continue
    cp -a "$entry" "$dst/drive_c/" || return 1
  done
  cp -al "$src/drive_c/windows" "$dst/drive_c/windows"
}

prefix=$(mktemp -d "$prefixes/run.XXXXXX")
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT
copy_prefix "$template" "$prefix" || { echo "wine-test-run.sh: could not copy $template" >&2; exit 1; }
export WINEPREFIX=$prefix

wineserver -p
wine64 cmd /c exit 0 >/dev/null 2>&1 </dev/null

# Tests find their own prefix through QZ_WINEPREFIX (Windows sees it as Z:...).
# Wine's debug output goes to the Unix stderr that every process of the prefix
# inherits; it is collected in one file that a test can read (a relay trace of
# a child process lands there) and shown after the run.
export QZ_WINEPREFIX=$prefix
export QZ_WINE_STDERR=$prefix/stderr.log
: >"$QZ_WINE_STDERR"
wine64 "$@" 2>>"$QZ_WINE_STDERR"
rc=$?
grep -v -E '^[0-9a-f]{4}:' "$QZ_WINE_STDERR" >&2
exit $rc
