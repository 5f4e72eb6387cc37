#!/usr/bin/env bash
# Builds the fuzz targets (the `fuzz` preset: Debian's clang with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for SECONDS
# (default 60), one after the other:
#
#   scripts/fuzz.sh [SECONDS] [TARGET]...     TARGET: reg_file, res_reader,
#                                             version_info, registry_folder
#   scripts/fuzz.sh --replay [TARGET]...      each input of the seed corpus (and of
#                                             what earlier runs kept) once, no
#                                             fuzzing: the same run every time (tests)
#
# Each target starts from its seed corpus (build/fuzz/seeds/<target>) and keeps
# what it finds in build/fuzz/corpus/<target>, so later runs go on from there.
# A crash, leak or hang is written to build/fuzz/artifacts/<target>/ and stops
# the script with the fuzzer's exit code; the full log of each run is
# build/fuzz/logs/<target>.log, and its final statistics are printed.
set -euo pipefail
cd "$(dirname "$0")/.."

replay=
if [ "${1:-}" = --replay ]; then
  replay=yes
  shift
  seconds=0
else
  seconds=${1:-60}
  [[ $seconds =~ ^[0-9]+$ ]] || { echo "fuzz.sh: SECONDS must be a whole number, not '$seconds'" >&2; exit 1; }
  shift || true
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reg_file res_reader version_info registry_folder)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

build=build/fuzz
status=0
for target in "${targets[@]}"; do
  program=$build/bin/${target}_fuzzer
  [ -x "$program" ] || { echo "fuzz.sh: no fuzz target '$target' ($program)" >&2; exit 1; }
  mkdir -p "$build/corpus/$target" "$build/artifacts/$target" "$build/logs"
  if [ -n "$replay" ]; then
    # Every input of the corpora once, nothing new: the same run each time.
    options=(-runs=0 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$build/artifacts/$target/")
  else
    options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
             -artifact_prefix="$build/artifacts/$target/")
  fi
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  [ "$target" = reg_file ] && options+=(-dict=fuzz/reg.dict)
  [ "$target" = registry_folder ] && options+=(-dict=fuzz/reg.dict)
  if [ -n "$replay" ]; then echo "== $target: its corpora once"; else echo "== $target: $seconds s"; fi
  rc=0
  "$program" "${options[@]}" "$build/corpus/$target" "$build/seeds/$target" >"$build/logs/$target.log" 2>&1 || rc=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::|^Done [0-9]+ runs' "$build/logs/$target.log" || true
  if [ $rc -ne 0 ]; then
    echo "fuzz.sh: $target failed (exit $rc); see $build/logs/$target.log and $build/artifacts/$target/" >&2
    status=$rc
    break
  fi
done
exit $status
