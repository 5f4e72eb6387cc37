#!/usr/bin/env bash
# Builds an MSI package from WiX source with Debian's wixl, then writes into it
# what wixl 0.101 drops or cannot read, with msibuild (msitools):
#
#   Component/@Permanent="yes"   wixl ignores it (a warning): the component's
#                                Attributes get msidbComponentAttributesPermanent
#                                (0x10), so that Windows Installer never removes it.
#   <Condition> in a Component   wixl stops at it ("unhandled child"): the element
#                                is taken out before wixl runs and its text goes
#                                into the component's Condition column.
#
# This is the one step that goes beyond wixl; everything else is wixl's own.
# WiX that wixl 0.101 would build wrongly, or not at all, is refused with a
# message instead: Type="expandable" (stored without its #% prefix),
# Type="binary" (stored as text), MultiStringValue, RemoveRegistryKey and
# RemoveRegistryValue. The source is expected as qzreg writes it: each
# Component start tag and each component Condition on a line of its own.
#
#   wixl-package.sh [--wixl WIXL] [--msibuild MSIBUILD] [--msiinfo MSIINFO] SOURCE.wxs FILES_DIR OUTPUT.msi
#
# FILES_DIR is the folder the File elements' Source names are taken from.
set -euo pipefail

wixl=wixl
msibuild=msibuild
msiinfo=msiinfo
while [ $# -gt 0 ]; do
  case $1 in
    --wixl) wixl=$2; shift 2 ;;
    --msibuild) msibuild=$2; shift 2 ;;
    --msiinfo) msiinfo=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 3 ] || { echo "usage: wixl-package.sh [--wixl W] [--msibuild B] [--msiinfo I] SOURCE.wxs FILES_DIR OUTPUT.msi" >&2; exit 2; }
for tool in "$wixl" "$msibuild" "$msiinfo"; do
  command -v "$tool" >/dev/null ||
    { echo "wixl-package.sh: $tool not found: install Debian's wixl and msitools (scripts/setup-debian.sh)" >&2; exit 1; }
done

source_wxs=$(realpath "$1")
files_dir=$2
output=$(realpath -m "$3")

if grep -n -E 'Type="(expandable|binary)"|<MultiStringValue|<RemoveRegistry(Key|Value)[ />]' "$source_wxs" >&2; then
  echo "wixl-package.sh: $source_wxs uses WiX that wixl 0.101 builds wrongly or not at all (lines above)" >&2
  exit 1
fi

mkdir -p "${output%/*}"
work=$(mktemp -d "${output%/*}/.wixl-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The source without component conditions, and the list of amendments:
#   permanent<TAB>component
#   condition<TAB>component<TAB>text
awk -v amend="$work/amend.txt" '
  /<Component[ >]/ {
    component = ""
    if (match($0, /Id="[^"]*"/)) component = substr($0, RSTART + 4, RLENGTH - 5)
    if ($0 ~ /Permanent="yes"/) print "permanent\t" component > amend
  }
  /<\/Component>/ { component = "" }
  /<Condition[ >]/ && component != "" {
    if ($0 !~ /^[ \t]*<Condition>.*<\/Condition>[ \t\r]*$/) {
      print "wixl-package.sh: line " NR ": a component condition must be one <Condition>...</Condition> line" > "/dev/stderr"
      failed = 1
      exit 1
    }
    text = $0
    sub(/^[ \t]*<Condition>/, "", text)
    sub(/<\/Condition>[ \t\r]*$/, "", text)
    gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text); gsub(/&apos;/, "'\''", text)
    gsub(/&amp;/, "\\&", text)
    print "condition\t" component "\t" text > amend
    next
  }
  { print }
  END { if (failed) exit 1 }
' "$source_wxs" >"$work/wixl.wxs"
touch "$work/amend.txt"

(cd "$files_dir" && "$wixl" -a x64 -o "$work/package.msi" "$work/wixl.wxs") 2>"$work/wixl.log" || {
  cat "$work/wixl.log" >&2
  echo "wixl-package.sh: wixl failed on $source_wxs" >&2
  exit 1
}
# wixl's notes on what it ignores: the permanent components, written below.
grep -v -E "has no property named 'Permanent'|^$" "$work/wixl.log" >&2 || true

component_column() {  # component column(4 = Attributes, 5 = Condition)
  "$msiinfo" export "$work/package.msi" Component | awk -F'\t' -v id="$1" -v column="$2" 'NR > 3 && $1 == id { print $column }'
}

queries=()
while IFS=$'\t' read -r kind component text; do
  case $kind in
    permanent)
      attributes=$(component_column "$component" 4)
      [ -n "$attributes" ] || { echo "wixl-package.sh: no component $component in the package" >&2; exit 1; }
      queries+=(-q "UPDATE \`Component\` SET \`Attributes\` = $((attributes | 16)) WHERE \`Component\` = '$component'")
      ;;
    condition)
      case $text in *"'"*) echo "wixl-package.sh: $component: a condition with a single quote cannot be written" >&2; exit 1 ;; esac
      queries+=(-q "UPDATE \`Component\` SET \`Condition\` = '$text' WHERE \`Component\` = '$component'")
      ;;
  esac
done <"$work/amend.txt"
[ ${#queries[@]} -eq 0 ] || "$msibuild" "$work/package.msi" "${queries[@]}"

# What was written must be there: msibuild says nothing when a row does not match.
while IFS=$'\t' read -r kind component text; do
  case $kind in
    permanent) (( $(component_column "$component" 4) & 16 )) ||
      { echo "wixl-package.sh: $component did not become permanent" >&2; exit 1; } ;;
    condition) [ "$(component_column "$component" 5)" = "$text" ] ||
      { echo "wixl-package.sh: $component did not get its condition" >&2; exit 1; } ;;
  esac
done <"$work/amend.txt"

# The tables a custom action adds temporary rows to must be in the package, even empty.
tables=$("$msiinfo" tables "$work/package.msi")
table_queries=()
grep -qx Registry <<<"$tables" || table_queries+=(-q "CREATE TABLE \`Registry\` (\`Registry\` CHAR(72) NOT NULL, \`Root\` SHORT NOT NULL, \`Key\` CHAR(255) NOT NULL LOCALIZABLE, \`Name\` CHAR(255) LOCALIZABLE, \`Value\` LONGCHAR LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Registry\`)")
grep -qx RemoveRegistry <<<"$tables" || table_queries+=(-q "CREATE TABLE \`RemoveRegistry\` (\`RemoveRegistry\` CHAR(72) NOT NULL, \`Root\` SHORT NOT NULL, \`Key\` CHAR(255) NOT NULL LOCALIZABLE, \`Name\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`RemoveRegistry\`)")
[ ${#table_queries[@]} -eq 0 ] || "$msibuild" "$work/package.msi" "${table_queries[@]}"
tables=$("$msiinfo" tables "$work/package.msi")
for table in Registry RemoveRegistry; do
  grep -qx "$table" <<<"$tables" || { echo "wixl-package.sh: the package has no $table table" >&2; exit 1; }
done

mv "$work/package.msi" "$output"
