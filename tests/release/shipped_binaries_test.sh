#!/usr/bin/env bash
# What the shipped binaries hold, read from their symbol tables: the module
# (qzproduct.dll, libqzproduct.so) holds no test decorator (the fault injecting
# registry), no overlay and no change list, which only hosts and tests run; a
# host holds no test decorator.
#
#   shipped_binaries_test.sh NM [FILE PRESENT ABSENT]...
#
# For each FILE: PRESENT names a symbol it must show (so that a file without a
# symbol table cannot pass unread), ABSENT is an extended regular expression
# that none of its symbols, mangled or demangled, may match.
set -euo pipefail
nm=$1
shift
status=0
while [ $# -ge 3 ]; do
  file=$1 present=$2 absent=$3
  shift 3
  if ! symbols=$("$nm" "$file" && "$nm" -C "$file"); then
    echo "$file: $nm cannot read its symbols"
    status=1
    continue
  fi
  if ! grep -q -- "$present" <<<"$symbols"; then
    echo "$file: no symbol $present in its table: what it holds cannot be told"
    status=1
    continue
  fi
  found=$(grep -E -- "$absent" <<<"$symbols" | sort -u || true)
  if [ -n "$found" ]; then
    echo "$file holds code it never runs ($absent), $(wc -l <<<"$found") symbols:"
    head -n 20 <<<"$found"
    status=1
  else
    echo "$file: no symbol matches $absent"
  fi
done
[ $# -eq 0 ] || { echo "shipped_binaries_test.sh: arguments come in threes" >&2; exit 2; }
exit $status
