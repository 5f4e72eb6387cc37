#!/usr/bin/env bash
# Times the inner loop of a one-file change: touch one source, build its test
# program alone and run it through CTest, in one or more source trees that are
# configured and built with the native preset already (build/native). With two
# trees (this one and an older commit's, say) the rounds alternate between
# them, so that a machine whose speed drifts meanwhile slows both alike.
#
#   scripts/one-file-change.sh [--rounds N] [--file PATH] [--test NAME] [--all] TREE...
#
# Defaults: 5 rounds, registration/settings/menus.cpp and menus_test. --all builds
# everything (cmake --build) before running the test, instead of the test alone.
# Prints each run's seconds, then each tree's median. An older tree of its own:
#   git worktree add /tmp/older COMMIT && (cd /tmp/older && cmake --preset native &&
#     cmake --build --preset native)
set -euo pipefail

rounds=5
file=registration/settings/menus.cpp
test=menus_test
all=0
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --file) file=$2; shift 2 ;;
    --test) test=$2; shift 2 ;;
    --all) all=1; shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    -*) echo "one-file-change.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ "$all" -eq 1 ]; then target=(); else target=(--target "$test"); fi
[ $# -ge 1 ] || { echo "one-file-change.sh: name at least one source tree" >&2; exit 2; }
for tree in "$@"; do
  [ -f "$tree/$file" ] || { echo "one-file-change.sh: $tree/$file does not exist" >&2; exit 2; }
  [ -f "$tree/build/native/build.ninja" ] || {
    echo "one-file-change.sh: $tree/build/native is not configured (cmake --preset native)" >&2; exit 2; }
done

declare -A seconds
run() {  # tree
  local tree=$1 start end
  touch "$tree/$file"
  start=$(date +%s.%N)
  cmake --build "$tree/build/native" "${target[@]}" >/dev/null
  ctest --test-dir "$tree/build/native" -R "^$test\$" >/dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }'
}
for ((round = 1; round <= rounds; round++)); do
  for tree in "$@"; do
    took=$(run "$tree")
    seconds[$tree]+="$took "
    echo "round $round  $tree  ${took} s"
  done
done
for tree in "$@"; do
  median=$(tr ' ' '\n' <<<"${seconds[$tree]}" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
  echo "median  $tree  $median s  (touch $file, build $([ "$all" -eq 1 ] && echo everything || echo "$test"), run $test)"
done
