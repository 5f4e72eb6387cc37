#!/usr/bin/env bash
# Writes the registration as WiX source: qzreg.exe harvest --format wxs under
# Wine, in a throwaway prefix of its own (cmake/wine-test-run.sh copies the build
# directory's template prefix, runs the program with its own wineserver, stops
# that server and removes the copy).
#
#   msi-harvest.sh BUILD_DIR QZREG_EXE OUTPUT.wxs [MACHINE_STATE.reg ...]
#
# The .reg files are the machine state harvested against (qzreg --import): the
# installed versions of the modelling system decide the versioned Open verbs.
# The output is written whole or not at all, with LF line ends (qzreg.exe
# writes through the C runtime's text mode, CRLF), so that it is the same text
# the native qzreg writes.
set -euo pipefail

[ $# -ge 3 ] || { echo "usage: msi-harvest.sh BUILD_DIR QZREG_EXE OUTPUT.wxs [MACHINE_STATE.reg ...]" >&2; exit 2; }
build_dir=$1
qzreg=$2
output=$3
shift 3

args=(harvest --format wxs)
for state in "$@"; do
  [ -f "$state" ] || { echo "msi-harvest.sh: no such machine state: $state" >&2; exit 2; }
  # Wine sees the Linux file system as drive Z:.
  absolute=$(realpath "$state")
  args+=(--import "Z:${absolute//\//\\}")
done

mkdir -p "$(dirname "$output")"
tmp=$(mktemp "$output.XXXXXX")
trap 'rm -f "$tmp"' EXIT
"$(dirname "$0")/wine-test-run.sh" --build-dir "$build_dir" "$qzreg" "${args[@]}" >"$tmp"
tr -d '\r' <"$tmp" >"$output.new"
mv "$output.new" "$output"
