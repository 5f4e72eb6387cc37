#!/usr/bin/env bash
# The registry at scale, measured side by side in one run (nothing here is a
# test; the figures go in docs/measurements.md):
#   1. loading and saving a hive file of 10^3 to 10^6 values with the registry
#      folder of the release build, against Wine's `reg import` plus
#      `reg export` of the same file in a throwaway prefix of this script's own;
#   2. loading 10^5 and 10^6 values of one key, and 10^5 subkeys of one key,
#      with names in ascending, descending and random order;
#   3. removing a tree of many subkeys of one key, and a deep one, through the
#      registry calls a pass uses (DeleteRegistryTree) and through RemoveTree.
# Times are wall-clock seconds of one run each; peak memory is the process's
# peak resident size (for Wine, wineserver's, where its registry lives).
#
#   scripts/benchmark.sh [--wine-max N] [--no-wine]
#     --wine-max N  run Wine on files of at most N values (default 1000000;
#                   10^6 takes Wine about a minute)
#     --no-wine     measure this build only
set -euo pipefail
cd "$(dirname "$0")/.."

wine_max=1000000
while [ $# -gt 0 ]; do
  case $1 in
    --wine-max) wine_max=$2; shift 2 ;;
    --no-wine) wine_max=0; shift ;;
    *) echo "usage: scripts/benchmark.sh [--wine-max N] [--no-wine]" >&2; exit 1 ;;
  esac
done

scripts/setup-debian.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release --target reg_bench >/dev/null
bench=$PWD/build/release/bin/reg_bench

work=$(mktemp -d "${TMPDIR:-/tmp}/qz-benchmark.XXXXXX")
prefix=$work/wine-prefix
server_pid=
cleanup() {
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The value of field NAME in a line of key=value fields.
field() { sed -n "s/.*\<$1=\([^ ]*\).*/\1/p" <<<"$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else printf "-" }'; }
per_value() { awk -v s="$1" -v n="$2" 'BEGIN { printf "%.2f", s * 1e6 / n }'; }
mib_of() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo "Generating files in $work" >&2
sizes=(1000 10000 100000 1000000)
for n in "${sizes[@]}"; do "$bench" generate "$work/spread-$n.reg" --values "$n"; done
for shape in values subkeys values-1e6; do
  for order in ascending descending random; do
    if [ "$shape" = values-1e6 ]; then
      "$bench" generate "$work/$shape-$order.reg" --values 1000000 --shape values --order "$order"
    else
      "$bench" generate "$work/$shape-$order.reg" --values 100000 --shape "$shape" --order "$order"
    fi
  done
done

# ---- Wine: reg import + reg export, with this prefix's own wineserver ----------------
declare -A wine_import wine_export wine_peak
if [ "$wine_max" -gt 0 ]; then
  export PATH=/usr/lib/wine:$PATH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$prefix
  unset DISPLAY WAYLAND_DISPLAY
  echo "Preparing a Wine prefix" >&2
  wine64 wineboot -i >"$work/wineboot.log" 2>&1
  wineserver -w
  for n in "${sizes[@]}"; do
    [ "$n" -le "$wine_max" ] || continue
    echo "Wine: $n values" >&2
    # A fresh server per size, so that its peak is this file's.
    wineserver -f -p >/dev/null 2>&1 &
    server_pid=$!
    wine64 cmd /c exit 0 >/dev/null 2>&1
    file="Z:${work//\//\\}\\spread-$n.reg"
    out="Z:${work//\//\\}\\wine-export-$n.reg"
    line=$("$bench" run wine64 reg import "$file" 2>/dev/null)
    [ "$(field exit "$line")" = 0 ] || { echo "wine reg import failed: $line" >&2; exit 1; }
    wine_import[$n]=$(field run_s "$line")
    line=$("$bench" run wine64 reg export 'HKLM\Software\Bench' "$out" /y 2>/dev/null)
    [ "$(field exit "$line")" = 0 ] || { echo "wine reg export failed: $line" >&2; exit 1; }
    wine_export[$n]=$(field run_s "$line")
    wine_peak[$n]=$(awk '/VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$server_pid/status")
    wine64 reg delete 'HKLM\Software\Bench' /f >/dev/null 2>&1
    rm -f "$work/wine-export-$n.reg"
    wineserver -k
    wait "$server_pid" || true
  done
fi

# ---- ours -------------------------------------------------------------------------
echo "This build: load and save" >&2
echo
echo "Load plus save of a hive file (keys of 10 values: paths, texts, dwords, binary)"
printf '%-8s %8s | %7s %7s %7s %8s %12s %5s | %7s %7s %7s %12s | %6s\n' \
  values "file MB" load save total "µs/val" "peak MB (×)" same import export total "peak MB (×)" "Wine/"
printf '%-8s %8s | %7s %7s %7s %8s %12s %5s | %7s %7s %7s %12s | %6s\n' \
  "" "" ours ours ours ours ours ours Wine Wine Wine wineserver ours
for n in "${sizes[@]}"; do
  line=$("$bench" load-save "$work/spread-$n.reg")
  bytes=$(stat -c %s "$work/spread-$n.reg")
  total=$(field total_s "$line")
  peak=$(field rss_mib "$line")
  if [ -n "${wine_import[$n]:-}" ]; then
    wine_total=$(awk -v a="${wine_import[$n]}" -v b="${wine_export[$n]}" 'BEGIN { printf "%.3f", a + b }')
    wine_cols=$(printf '%7s %7s %7s %12s | %6s' "${wine_import[$n]}" "${wine_export[$n]}" "$wine_total" \
      "${wine_peak[$n]} ($(ratio "${wine_peak[$n]}" "$(mib_of "$bytes")"))" "$(ratio "$wine_total" "$total")")
  else
    wine_cols=$(printf '%7s %7s %7s %12s | %6s' - - - - -)
  fi
  printf '%-8s %8s | %7s %7s %7s %8s %12s %5s | %s\n' "$n" "$(mib_of "$bytes")" "$(field load_s "$line")" \
    "$(field save_s "$line")" "$total" "$(per_value "$total" "$n")" "$peak ($(ratio "$peak" "$(mib_of "$bytes")"))" \
    "$(field identical "$line")" "$wine_cols"
done
echo "(same: the saved file is byte for byte the file loaded; every saved file is also read back and compared)"

echo
echo "Names of one key, by their order in the file: load s (load plus save s)"
printf '%-26s %16s %16s %16s\n' "" ascending descending random
for shape in values subkeys values-1e6; do
  row=()
  for order in ascending descending random; do
    line=$("$bench" load-save "$work/$shape-$order.reg")
    row+=("$(field load_s "$line") ($(field total_s "$line"))")
  done
  case $shape in
    values) label="10^5 values of one key" ;;
    subkeys) label="10^5 subkeys of one key" ;;
    *) label="10^6 values of one key" ;;
  esac
  printf '%-26s %16s %16s %16s\n' "$label" "${row[@]}"
done

echo
echo "Removing a tree: seconds, and heap taken beyond the tree itself (MB)"
printf '%-30s %10s %10s | %10s %10s | %10s %10s\n' "" "API s" "API MB" "overlay s" "overlay MB" "tree s" "tree MB"
remove_row() {
  local label=$1 shape=$2 keys=$3 api overlay tree
  api=$("$bench" remove --shape "$shape" --keys "$keys" --via api)
  overlay=$("$bench" remove --shape "$shape" --keys "$keys" --via overlay)
  tree=$("$bench" remove --shape "$shape" --keys "$keys" --via tree)
  printf '%-30s %10s %10s | %10s %10s | %10s %10s\n' "$label" \
    "$(field remove_s "$api")" "$(field extra_heap_mib "$api")" \
    "$(field remove_s "$overlay")" "$(field extra_heap_mib "$overlay")" \
    "$(field remove_s "$tree")" "$(field extra_heap_mib "$tree")"
}
remove_row "10^4 subkeys of one key" wide 10000
remove_row "10^5 subkeys of one key" wide 100000
remove_row "a chain 500 deep" deep 500
remove_row "a chain 512 deep" deep 512
remove_row "a chain 3000 deep" deep 3000
echo "(API: DeleteRegistryTree through the registry calls of a pass; overlay: the same on an overlay of the"
echo " registry, as qzreg runs a pass, the tree removed from the overlay only; tree: MemoryRegistry::RemoveTree)"
echo
echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
