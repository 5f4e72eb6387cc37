#!/usr/bin/env bash
# Gathers the release artifacts into one folder and writes SHA256SUMS beside
# them (`sha256sum -c SHA256SUMS` in that folder checks them).
#
#   release-artifacts.sh OUTPUT_DIR FILE...
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: release-artifacts.sh OUTPUT_DIR FILE..." >&2; exit 2; }
output=$1
shift
rm -rf "$output"
mkdir -p "$output"
names=()
for file in "$@"; do
  cp "$file" "$output/"
  names+=("${file##*/}")
done
(cd "$output" && sha256sum -- "${names[@]}" >SHA256SUMS)
